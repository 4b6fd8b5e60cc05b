<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>HomeView</name>
    <message>
        <source>message27</source>
        <translation>Starting</translation>
    </message>
</context>
</TS>
