<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>HomeView</name>
    <message>
        <source>message27</source>
        <translation>Démarrage</translation>
    </message>
</context>
</TS>
