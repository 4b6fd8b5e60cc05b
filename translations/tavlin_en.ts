<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>AutoMeasChannel</name>
    <message>
        <source>Mesures sur </source>
        <translation>Measurements on </translation>
    </message>
    <message>
        <source> entre T1 et T2</source>
        <translation>between T1 and T2</translation>
    </message>
    <message>
        <source>M1</source>
        <translation>M1</translation>
    </message>
    <message>
        <source>M2</source>
        <translation>M2</translation>
    </message>
    <message>
        <source>M3</source>
        <translation>M3</translation>
    </message>
    <message>
        <source>M4</source>
        <translation>M4</translation>
    </message>
    <message>
        <source>CH1</source>
        <translation>CH1</translation>
    </message>
    <message>
        <source>CH2</source>
        <translation>CH2</translation>
    </message>
    <message>
        <source>CH3</source>
        <translation>CH3</translation>
    </message>
    <message>
        <source>CH4</source>
        <translation>CH4</translation>
    </message>
</context>
<context>
    <name>AutoMeasType</name>
    <message>
        <source>Mesures</source>
        <translation>Measurements</translation>
    </message>
    <message>
        <source> entre T1 et T2</source>
        <translation>between T1 and T2</translation>
    </message>
</context>
<context>
    <name>AutomeasComputeThread</name>
    <message>
        <source>vmin</source>
        <translation>Vmin</translation>
    </message>
    <message>
        <source>vmax</source>
        <translation>Vmax</translation>
    </message>
    <message>
        <source>vpp</source>
        <translation>Vpp</translation>
    </message>
    <message>
        <source>vlow</source>
        <translation>Vlow</translation>
    </message>
    <message>
        <source>vhigh</source>
        <translation>Vhigh</translation>
    </message>
    <message>
        <source>vamp</source>
        <translation>Vamp</translation>
    </message>
    <message>
        <source>vrms</source>
        <translation>Vrms</translation>
    </message>
    <message>
        <source>vrms_c</source>
        <translation>Vrms cyc</translation>
    </message>
    <message>
        <source>vavg</source>
        <translation>Vavg</translation>
    </message>
    <message>
        <source>sum</source>
        <translation>Sum</translation>
    </message>
    <message>
        <source>trise</source>
        <translation>Rise</translation>
    </message>
    <message>
        <source>tfall</source>
        <translation>Fall</translation>
    </message>
    <message>
        <source>wplus</source>
        <translation>W+</translation>
    </message>
    <message>
        <source>wminus</source>
        <translation>W-</translation>
    </message>
    <message>
        <source>period</source>
        <translation>Period</translation>
    </message>
    <message>
        <source>freq</source>
        <translation>Freq</translation>
    </message>
    <message>
        <source>dcycle</source>
        <translation>Duty</translation>
    </message>
    <message>
        <source>npulses</source>
        <translation>Pulses</translation>
    </message>
    <message>
        <source>ov_pos</source>
        <translation>Over+</translation>
    </message>
    <message>
        <source>ov_neg</source>
        <translation>Over-</translation>
    </message>
</context>
<context>
    <name>BusAnalysisStatusLine</name>
    <message>
        <source>running</source>
        <translation>running</translation>
    </message>
    <message>
        <source>pretrig</source>
        <translation>pre-trig</translation>
    </message>
    <message>
        <source>waiting qualifier</source>
        <translation>waiting qualifier</translation>
    </message>
    <message>
        <source>delay</source>
        <translation>delay</translation>
    </message>
    <message>
        <source>waiting trigger</source>
        <translation>waiting trigger</translation>
    </message>
    <message>
        <source>postrig</source>
        <translation>post-trig</translation>
    </message>
    <message>
        <source>end</source>
        <translation>end</translation>
    </message>
    <message>
        <source>stop</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>ch</source>
        <translation>ch</translation>
    </message>
    <message>
        <source>line</source>
        <translation>line</translation>
    </message>
    <message>
        <source>extern</source>
        <translation>ext</translation>
    </message>
    <message>
        <source>auto</source>
        <translation>auto</translation>
    </message>
    <message>
        <source>trig&apos;d</source>
        <translation>trig&apos;d</translation>
    </message>
    <message>
        <source>sgl</source>
        <translation>single</translation>
    </message>
</context>
<context>
    <name>BusLimits</name>
    <message>
        <source>Tolerances de mesure</source>
        <translation>Measurement limits</translation>
    </message>
    <message>
        <source>Modifications enregistrees dans le fichier:</source>
        <translation>Changes saved in the file:</translation>
    </message>
</context>
<context>
    <name>BusResults</name>
    <message>
        <source>Resultat de l&apos;analyse</source>
        <translation>Analysis results</translation>
    </message>
    <message>
        <source>Points a verifier</source>
        <translation>Points to check</translation>
    </message>
    <message>
        <source>Sauvegarde en fichier</source>
        <translation>Save to file</translation>
    </message>
    <message>
        <source>Sauvegarder</source>
        <translation>Save</translation>
    </message>
</context>
<context>
    <name>BusSelection</name>
    <message>
        <source>Bus a analyser</source>
        <translation>Bus to analyse</translation>
    </message>
    <message>
        <source>Configurations disponibles</source>
        <translation>Available configurations</translation>
    </message>
    <message>
        <source>Configuration courante</source>
        <translation>Current configuration</translation>
    </message>
    <message>
        <source>Connexions</source>
        <translation>Connections</translation>
    </message>
</context>
<context>
    <name>FileLoad</name>
    <message>
        <source>Chargement</source>
        <translation>Load file</translation>
    </message>
    <message>
        <source>Masque</source>
        <translation>Mask</translation>
    </message>
    <message>
        <source>Charger</source>
        <translation>Load</translation>
    </message>
</context>
<context>
    <name>FileSave</name>
    <message>
        <source>Traces</source>
        <translation>Traces</translation>
    </message>
    <message>
        <source>Fonction</source>
        <translation>Function</translation>
    </message>
    <message>
        <source>Harmoniques</source>
        <translation>Harmonics</translation>
    </message>
    <message>
        <source>Masque</source>
        <translation>Mask</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Setup</translation>
    </message>
    <message>
        <source>Sauvegarde</source>
        <translation>Save file</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Nom</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Commentaire</source>
        <translation>Comment</translation>
    </message>
    <message>
        <source>Sauvegarder</source>
        <translation>Save</translation>
    </message>
</context>
<context>
    <name>HarmonicMeas</name>
    <message>
        <source>SIGNAL</source>
        <translation>SIGNAL</translation>
    </message>
    <message>
        <source>HARMONIC </source>
        <translation>HARMONIC </translation>
    </message>
    <message>
        <source>Vrms=</source>
        <translation>Vrms=</translation>
    </message>
    <message>
        <source>THD=</source>
        <translation>THD=</translation>
    </message>
    <message>
        <source>ratio=</source>
        <translation>ratio=</translation>
    </message>
    <message>
        <source>Ph=</source>
        <translation>Ph=</translation>
    </message>
    <message>
        <source>F=</source>
        <translation>F=</translation>
    </message>
</context>
<context>
    <name>HomeView</name>
    <message>
        <source>Oscilloscope</source>
        <translation>Oscilloscope</translation>
    </message>
    <message>
        <source>Multimeter</source>
        <translation>Multimeter</translation>
    </message>
    <message>
        <source>Logger</source>
        <translation>Recorder</translation>
    </message>
    <message>
        <source>Harmonic</source>
        <translation>Harmonics</translation>
    </message>
    <message>
        <source>Bus</source>
        <translation>Bus</translation>
    </message>
    <message>
        <source>Mise a jour disponible. L&apos;installer?</source>
        <translation>Update available. Install it?</translation>
    </message>
</context>
<context>
    <name>KalvexOverview</name>
    <message>
        <source>Entree:</source>
        <translation>Input:</translation>
    </message>
    <message>
        <source>Entree flottante:</source>
        <translation>Floating input:</translation>
    </message>
    <message>
        <source>Entre voies:</source>
        <translation>Between channels:</translation>
    </message>
    <message>
        <source>CH</source>
        <translation>CH</translation>
    </message>
    <message>
        <source>600 V CAT III</source>
        <translation>600 V CAT III</translation>
    </message>
    <message>
        <source>---</source>
        <translation>---</translation>
    </message>
    <message>
        <source>300 V CAT III</source>
        <translation>300 V CAT III</translation>
    </message>
</context>
<context>
    <name>KeyHelp</name>
    <message>
        <source>aide clavier</source>
        <translation>Key help</translation>
    </message>
    <message>
        <source>T_INSTRUMENT</source>
        <translation>Instrument key: goes back to the home screen to choose another instrument.</translation>
    </message>
    <message>
        <source>T_BACKLIGHT_M</source>
        <translation>Backlight: short press changes the screen brightness, long press switches the automatic brightness.</translation>
    </message>
    <message>
        <source>T_FULL_SCREEN</source>
        <translation>Full screen: shows the traces over the whole screen, or the panels again.</translation>
    </message>
    <message>
        <source>T_PRINT_SCREEN</source>
        <translation>Screenshot: saves a picture of the screen.</translation>
    </message>
    <message>
        <source>T_REF_ON_OFF</source>
        <translation>Reference: shows or hides the reference traces.</translation>
    </message>
    <message>
        <source>T_AUTOSET</source>
        <translation>Autoset: adjusts the settings to the signals applied.</translation>
    </message>
    <message>
        <source>T_AUTOMEAS</source>
        <translation>Automatic measurements: shows or hides the measurements.</translation>
    </message>
    <message>
        <source>T_REF_MEAS</source>
        <translation>Reference of the measurements: chooses the channel measured.</translation>
    </message>
    <message>
        <source>T_CURSORS</source>
        <translation>Cursors: switches the manual cursors.</translation>
    </message>
    <message>
        <source>T_FULL_TRACE</source>
        <translation>Full trace: shows the whole recorded trace.</translation>
    </message>
    <message>
        <source>T_CH1_VOLT_MV</source>
        <translation>Sensitivity: changes the volts per division of the channel.</translation>
    </message>
    <message>
        <source>T_CH1_CADRAGE_H</source>
        <translation>Vertical position: moves the trace of the channel up or down.</translation>
    </message>
    <message>
        <source>T_CH1_CADRAGE_H_FFT</source>
        <translation>FFT position: moves the spectrum of the channel up or down.</translation>
    </message>
    <message>
        <source>T_CH1_COUPLAGE</source>
        <translation>Coupling: changes the input coupling of the channel.</translation>
    </message>
    <message>
        <source>T_CH1_METER_RANGE_mV</source>
        <translation>Range: changes the measuring range of the channel.</translation>
    </message>
    <message>
        <source>T_CH1_METER_COUPLAGE</source>
        <translation>Coupling: changes the measurement coupling of the channel.</translation>
    </message>
    <message>
        <source>T_TIME_S</source>
        <translation>Time base: changes the time per division.</translation>
    </message>
    <message>
        <source>T_POS_HORIZ_G</source>
        <translation>Horizontal position: moves the trace to the left or the right.</translation>
    </message>
    <message>
        <source>T_ZOOM</source>
        <translation>Zoom: enlarges a part of the trace.</translation>
    </message>
    <message>
        <source>T_ZOOM_FFT</source>
        <translation>Zoom: enlarges a part of the spectrum.</translation>
    </message>
    <message>
        <source>T_ZOOM_XY</source>
        <translation>Zoom: enlarges the XY display.</translation>
    </message>
    <message>
        <source>T_LEVEL_50</source>
        <translation>Trigger level: sets the level to the middle of the signal.</translation>
    </message>
    <message>
        <source>T_SINGLE_REFR</source>
        <translation>Single: waits for one trigger and holds the result.</translation>
    </message>
    <message>
        <source>T_RUN_HOLD</source>
        <translation>Run/Hold: starts or stops the acquisition.</translation>
    </message>
    <message>
        <source>T_CH1_SLOPE</source>
        <translation>Trigger slope: changes the edge that triggers.</translation>
    </message>
    <message>
        <source>T_MATH_ON</source>
        <translation>Math: shows or hides the math trace.</translation>
    </message>
    <message>
        <source>T_CH1_ON</source>
        <translation>Channel key: shows or hides the channel; a long press selects it.</translation>
    </message>
    <message>
        <source>KEY_NOT_USED</source>
        <translation>This key is not used in this mode.</translation>
    </message>
    <message>
        <source>AIDE_INFO</source>
        <translation>&lt;b&gt;Key help&lt;/b&gt;&lt;br&gt;Press a front-panel key to see what it does in the current mode; the key does not act while this help is shown.&lt;br&gt;Touch this text to leave the key help.</translation>
    </message>
</context>
<context>
    <name>LoggerStatusLine</name>
    <message>
        <source>stop</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>running</source>
        <translation>running</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>message1</source>
        <translation>Oscilloscope mode</translation>
    </message>
    <message>
        <source>message2</source>
        <translation>Recorder mode</translation>
    </message>
    <message>
        <source>message3</source>
        <translation>Harmonic analyser mode</translation>
    </message>
    <message>
        <source>message4</source>
        <translation>File viewer mode</translation>
    </message>
    <message>
        <source>message5</source>
        <translation>Switching off…</translation>
    </message>
    <message>
        <source>message6</source>
        <translation>Calibration step running…</translation>
    </message>
    <message>
        <source>message7</source>
        <translation>Autoset failed</translation>
    </message>
    <message>
        <source>message8</source>
        <translation>Autoset…</translation>
    </message>
    <message>
        <source>message9</source>
        <translation>Multimeter mode</translation>
    </message>
    <message>
        <source>message10</source>
        <translation>Measurement on hold</translation>
    </message>
    <message>
        <source>message11</source>
        <translation>Please wait…</translation>
    </message>
    <message>
        <source>message12</source>
        <translation>Saving the calibration…</translation>
    </message>
    <message>
        <source>message13</source>
        <translation>Self-test failed: </translation>
    </message>
    <message>
        <source>message14</source>
        <translation>Writing file</translation>
    </message>
    <message>
        <source>message15</source>
        <translation>Probe: check its ratings</translation>
    </message>
    <message>
        <source>message16</source>
        <translation>Please wait…</translation>
    </message>
    <message>
        <source>message17</source>
        <translation>File exists or cannot be opened</translation>
    </message>
    <message>
        <source>message18</source>
        <translation>No setup file: defaults loaded</translation>
    </message>
    <message>
        <source>message19</source>
        <translation>Cannot write the file</translation>
    </message>
    <message>
        <source>message20</source>
        <translation>Invalid or damaged file</translation>
    </message>
    <message>
        <source>message21</source>
        <translation>Key not active in this mode</translation>
    </message>
    <message>
        <source>message22</source>
        <translation>No harmonic data to save</translation>
    </message>
    <message>
        <source>message23</source>
        <translation>Invalid file name</translation>
    </message>
    <message>
        <source>message24</source>
        <translation>Nothing to save</translation>
    </message>
    <message>
        <source>message25</source>
        <translation>Saving screenshot</translation>
    </message>
    <message>
        <source>message26</source>
        <translation>Invalid function</translation>
    </message>
    <message>
        <source>message27</source>
        <translation>Starting…</translation>
    </message>
    <message>
        <source>message28</source>
        <translation>Bus analysis mode</translation>
    </message>
    <message>
        <source>message29</source>
        <translation>Bus analysis step:</translation>
    </message>
    <message>
        <source>message30</source>
        <translation>Bus file cannot be loaded</translation>
    </message>
    <message>
        <source>message31</source>
        <translation>Bus analysis timed out</translation>
    </message>
    <message>
        <source>message32</source>
        <translation>Bus analysis stopped</translation>
    </message>
    <message>
        <source>message33</source>
        <translation>Building the mask…</translation>
    </message>
    <message>
        <source>message35</source>
        <translation>No channel to record</translation>
    </message>
</context>
<context>
    <name>MeterMeasurement</name>
    <message>
        <source>AC</source>
        <translation>AC</translation>
    </message>
    <message>
        <source>DC</source>
        <translation>DC</translation>
    </message>
    <message>
        <source>AC+DC</source>
        <translation>AC+DC</translation>
    </message>
    <message>
        <source>AC &lt;5 kHz</source>
        <translation>AC &lt;5 kHz</translation>
    </message>
    <message>
        <source>AC+DC &lt;5 kHz</source>
        <translation>AC+DC &lt;5 kHz</translation>
    </message>
    <message>
        <source>AC &lt;625 Hz</source>
        <translation>AC &lt;625 Hz</translation>
    </message>
    <message>
        <source>AC+DC &lt;625 Hz</source>
        <translation>AC+DC &lt;625 Hz</translation>
    </message>
    <message>
        <source>CH</source>
        <translation>CH</translation>
    </message>
    <message>
        <source>Overload</source>
        <translation>Overload</translation>
    </message>
    <message>
        <source>min: </source>
        <translation>min: </translation>
    </message>
    <message>
        <source>max: </source>
        <translation>max: </translation>
    </message>
    <message>
        <source>Rel: </source>
        <translation>Rel: </translation>
    </message>
    <message>
        <source>Freq: </source>
        <translation>Freq: </translation>
    </message>
</context>
<context>
    <name>MeterStatusLine</name>
    <message>
        <source>stop</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>running</source>
        <translation>running</translation>
    </message>
</context>
<context>
    <name>ModeSelect</name>
    <message>
        <source>Mode</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Vecteur</source>
        <translation>Vector</translation>
    </message>
    <message>
        <source>Enveloppe</source>
        <translation>Envelope</translation>
    </message>
    <message>
        <source>Toute l&apos;acquisition</source>
        <translation>Whole record</translation>
    </message>
    <message>
        <source>Persistance</source>
        <translation>Persistence</translation>
    </message>
</context>
<context>
    <name>PassFail</name>
    <message>
        <source>div</source>
        <translation>div</translation>
    </message>
    <message>
        <source>Test de gabarit</source>
        <translation>Pass/fail test</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>On</source>
        <translation>On</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Marche</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>Arret</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Depart</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>Tolerance X</source>
        <translation>X tolerance</translation>
    </message>
    <message>
        <source>Tolerance Y</source>
        <translation>Y tolerance</translation>
    </message>
    <message>
        <source>Affichage</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>All</source>
        <translation>All</translation>
    </message>
    <message>
        <source>Pass</source>
        <translation>Pass</translation>
    </message>
    <message>
        <source>Fail</source>
        <translation>Fail</translation>
    </message>
    <message>
        <source>Bip</source>
        <translation>Beep</translation>
    </message>
    <message>
        <source>Compteur</source>
        <translation>Counter</translation>
    </message>
    <message>
        <source>Masque</source>
        <translation>Mask</translation>
    </message>
    <message>
        <source>Sauver</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Charger</source>
        <translation>Load</translation>
    </message>
</context>
<context>
    <name>PowerMeasurement</name>
    <message>
        <source>POWER</source>
        <translation>POWER</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>run after delay</source>
        <translation>Run after delay</translation>
    </message>
    <message>
        <source>cadrage</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>position horiz</source>
        <translation>Horiz. position</translation>
    </message>
    <message>
        <source>div</source>
        <translation>div</translation>
    </message>
    <message>
        <source>holdoff</source>
        <translation>Hold-off</translation>
    </message>
    <message>
        <source>position horiz FFT</source>
        <translation>FFT horiz. position</translation>
    </message>
    <message>
        <source>lumiere</source>
        <translation>Brightness</translation>
    </message>
    <message>
        <source>niveau decl</source>
        <translation>Trigger level</translation>
    </message>
    <message>
        <source>cadrage FFT</source>
        <translation>FFT position</translation>
    </message>
    <message>
        <source>pos</source>
        <translation>rising</translation>
    </message>
    <message>
        <source>neg</source>
        <translation>falling</translation>
    </message>
    <message>
        <source>Batterie: </source>
        <translation>Battery: </translation>
    </message>
    <message>
        <source>en charge</source>
        <translation>charging</translation>
    </message>
</context>
<context>
    <name>ScopeHorizontal</name>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Base de temps</source>
        <translation>Time base</translation>
    </message>
    <message>
        <source>Moyennage</source>
        <translation>Averaging</translation>
    </message>
    <message>
        <source>non</source>
        <translation>off</translation>
    </message>
    <message>
        <source>Fenetre</source>
        <translation>Window</translation>
    </message>
    <message>
        <source>Rectangulaire</source>
        <translation>Rectangular</translation>
    </message>
    <message>
        <source>Echelle</source>
        <translation>Scale</translation>
    </message>
    <message>
        <source>echelle lineaire</source>
        <translation>linear scale</translation>
    </message>
    <message>
        <source>echelle log.</source>
        <translation>log. scale</translation>
    </message>
    <message>
        <source>Source X</source>
        <translation>X source</translation>
    </message>
    <message>
        <source>Source Y</source>
        <translation>Y source</translation>
    </message>
    <message>
        <source>Acquisition</source>
        <translation>Acquisition</translation>
    </message>
    <message>
        <source>Signal repetitif</source>
        <translation>Repetitive signal</translation>
    </message>
    <message>
        <source>Min/max</source>
        <translation>Min/max</translation>
    </message>
    <message>
        <source>Memoire</source>
        <translation>Memory</translation>
    </message>
    <message>
        <source>Sauvegarde/Relance</source>
        <translation>Save/Restart</translation>
    </message>
    <message>
        <source>Parametres horizontaux</source>
        <translation>Horizontal settings</translation>
    </message>
</context>
<context>
    <name>ScopeMath</name>
    <message>
        <source>Expression</source>
        <translation>Expression</translation>
    </message>
    <message>
        <source>Operation</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>Predefinies</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>Fonction mathematique</source>
        <translation>Math function</translation>
    </message>
</context>
<context>
    <name>ScopeStatusLine</name>
    <message>
        <source>running</source>
        <translation>running</translation>
    </message>
    <message>
        <source>pretrig</source>
        <translation>pre-trig</translation>
    </message>
    <message>
        <source>waiting qualifier</source>
        <translation>waiting qualifier</translation>
    </message>
    <message>
        <source>delay</source>
        <translation>delay</translation>
    </message>
    <message>
        <source>waiting trigger</source>
        <translation>waiting trigger</translation>
    </message>
    <message>
        <source>postrig</source>
        <translation>post-trig</translation>
    </message>
    <message>
        <source>end</source>
        <translation>end</translation>
    </message>
    <message>
        <source>stop</source>
        <translation>stop</translation>
    </message>
    <message>
        <source>ch</source>
        <translation>ch</translation>
    </message>
    <message>
        <source>line</source>
        <translation>line</translation>
    </message>
    <message>
        <source>extern</source>
        <translation>ext</translation>
    </message>
    <message>
        <source>auto</source>
        <translation>auto</translation>
    </message>
    <message>
        <source>trig&apos;d</source>
        <translation>trig&apos;d</translation>
    </message>
    <message>
        <source>sgl</source>
        <translation>single</translation>
    </message>
</context>
<context>
    <name>ScopeTrigger</name>
    <message>
        <source>Type</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>front</source>
        <translation>Edge</translation>
    </message>
    <message>
        <source>impulsion</source>
        <translation>Pulse</translation>
    </message>
    <message>
        <source>retard</source>
        <translation>Delay</translation>
    </message>
    <message>
        <source>comptage</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>Source qualif.</source>
        <translation>Qualifier</translation>
    </message>
    <message>
        <source>Bruit</source>
        <translation>Noise</translation>
    </message>
    <message>
        <source>rejet</source>
        <translation>reject</translation>
    </message>
    <message>
        <source>Couplage</source>
        <translation>Coupling</translation>
    </message>
    <message>
        <source>Pente</source>
        <translation>Slope</translation>
    </message>
    <message>
        <source>Niveau</source>
        <translation>Level</translation>
    </message>
    <message>
        <source>Hold-off</source>
        <translation>Hold-off</translation>
    </message>
    <message>
        <source>Condition</source>
        <translation>Condition</translation>
    </message>
    <message>
        <source>T &gt; T1 et T &lt; T2</source>
        <translation>T &gt; T1 and T &lt; T2</translation>
    </message>
    <message>
        <source>T &lt; T1 ou T &gt; T2</source>
        <translation>T &lt; T1 or T &gt; T2</translation>
    </message>
    <message>
        <source>Retard</source>
        <translation>Delay</translation>
    </message>
    <message>
        <source>Comptage</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>Parametres de declenchement</source>
        <translation>Trigger settings</translation>
    </message>
</context>
<context>
    <name>ScopeVertical</name>
    <message>
        <source>CH</source>
        <translation>CH</translation>
    </message>
    <message>
        <source>Sensibilite</source>
        <translation>Sensitivity</translation>
    </message>
    <message>
        <source>Couplage</source>
        <translation>Coupling</translation>
    </message>
    <message>
        <source>Limite de bande</source>
        <translation>Bandwidth limit</translation>
    </message>
    <message>
        <source>non</source>
        <translation>off</translation>
    </message>
    <message>
        <source>Coef. sonde</source>
        <translation>Probe coef.</translation>
    </message>
    <message>
        <source>Unite</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>Couleur</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>vert</source>
        <translation>green</translation>
    </message>
    <message>
        <source>rouge</source>
        <translation>red</translation>
    </message>
    <message>
        <source>bleu</source>
        <translation>blue</translation>
    </message>
    <message>
        <source>magenta</source>
        <translation>magenta</translation>
    </message>
    <message>
        <source>Boutons de la sonde</source>
        <translation>Probe buttons</translation>
    </message>
    <message>
        <source>sensibilite +/-</source>
        <translation>sensitivity +/-</translation>
    </message>
    <message>
        <source>cadrage vertical +/-</source>
        <translation>vertical position +/-</translation>
    </message>
    <message>
        <source>base de temps +/-</source>
        <translation>time base +/-</translation>
    </message>
    <message>
        <source>cadrage horizontal +/-</source>
        <translation>horizontal position +/-</translation>
    </message>
    <message>
        <source>front decl./run-hold</source>
        <translation>trigger edge/run-hold</translation>
    </message>
    <message>
        <source>auto mes./ref.mes</source>
        <translation>auto meas./meas. ref.</translation>
    </message>
    <message>
        <source>auto chx/auto 50%</source>
        <translation>auto channel/auto 50%</translation>
    </message>
</context>
<context>
    <name>ToolChannel</name>
    <message>
        <source>CH</source>
        <translation>CH</translation>
    </message>
    <message>
        <source>F</source>
        <translation>F</translation>
    </message>
    <message>
        <source>M</source>
        <translation>M</translation>
    </message>
    <message>
        <source>AC</source>
        <translation>AC</translation>
    </message>
    <message>
        <source>DC</source>
        <translation>DC</translation>
    </message>
    <message>
        <source>GND</source>
        <translation>GND</translation>
    </message>
    <message>
        <source>No</source>
        <translation>off</translation>
    </message>
    <message>
        <source>15MHz</source>
        <translation>15MHz</translation>
    </message>
    <message>
        <source>1,5MHz</source>
        <translation>1.5MHz</translation>
    </message>
    <message>
        <source>5kHz</source>
        <translation>5kHz</translation>
    </message>
    <message>
        <source>1.5MHz</source>
        <translation>1.5MHz</translation>
    </message>
    <message>
        <source>BW lim=</source>
        <translation>BW lim=</translation>
    </message>
    <message>
        <source>/div</source>
        <translation>/div</translation>
    </message>
</context>
<context>
    <name>ToolPower</name>
    <message>
        <source>Power</source>
        <translation>Power</translation>
    </message>
</context>
<context>
    <name>ToolTimebase</name>
    <message>
        <source>s</source>
        <translation>s</translation>
    </message>
    <message>
        <source>/div</source>
        <translation>/div</translation>
    </message>
    <message>
        <source>ech</source>
        <translation>Sa</translation>
    </message>
</context>
<context>
    <name>ViewerEventFilter</name>
    <message>
        <source>Source</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Durée</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>Rechercher</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Liste</source>
        <translation>List</translation>
    </message>
    <message>
        <source>choose a type</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ViewerEventList</name>
    <message>
        <source>Sauver</source>
        <translation>Save</translation>
    </message>
</context>
</TS>
