<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>RowOutcome</name>
    <message numerus="yes">
        <source>%n parameter(s) as planned</source>
        <translation type="unfinished">
            <numerusform>%n parameter as planned</numerusform>
            <numerusform>%n parameters as planned</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n parameter(s) written, not read back</source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SiteWindow</name>
    <message numerus="yes">
        <source>%n problem(s)</source>
        <translation>
            <numerusform>%n problem</numerusform>
            <numerusform>%n problems</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Opened %1: %n row(s)</source>
        <translation>
            <numerusform>Opened %1: %n row</numerusform>
            <numerusform>Opened %1: %n rows</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Pasted %n cell(s)</source>
        <translation>
            <numerusform>Pasted %n cell</numerusform>
            <numerusform>Pasted %n cells</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The plan has %n problem(s): nothing was started</source>
        <translation>
            <numerusform>The plan has %n problem: nothing was started</numerusform>
            <numerusform>The plan has %n problems: nothing was started</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Checking %n module(s)…</source>
        <translation>
            <numerusform>Checking %n module…</numerusform>
            <numerusform>Checking %n modules…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Commissioning %n module(s)…</source>
        <translation>
            <numerusform>Commissioning %n module…</numerusform>
            <numerusform>Commissioning %n modules…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The plan has %n problem(s): F8 goes to the next</source>
        <translation type="unfinished">
            <numerusform></numerusform>
            <numerusform></numerusform>
        </translation>
    </message>
</context>
</TS>
