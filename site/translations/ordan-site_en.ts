<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>PlanEditor</name>
    <message numerus="yes">
        <source>Pasted %n cell(s)</source>
        <translation>
            <numerusform>Pasted %n cell</numerusform>
            <numerusform>Pasted %n cells</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>PlanFiles</name>
    <message numerus="yes">
        <source>Opened %1: %n row(s)</source>
        <translation>
            <numerusform>Opened %1: %n row</numerusform>
            <numerusform>Opened %1: %n rows</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>A new plan from the record %1: %n row(s). Save it as a plan of its own; the record is not changed.</source>
        <translation>
            <numerusform>A new plan from the record %1: %n row. Save it as a plan of its own; the record is not changed.</numerusform>
            <numerusform>A new plan from the record %1: %n rows. Save it as a plan of its own; the record is not changed.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>PlanRows</name>
    <message numerus="yes">
        <source>%n row(s) removed</source>
        <translation>
            <numerusform>%n row removed</numerusform>
            <numerusform>%n rows removed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) duplicated</source>
        <translation>
            <numerusform>%n row duplicated</numerusform>
            <numerusform>%n rows duplicated</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n cell(s) pasted</source>
        <translation>
            <numerusform>%n cell pasted</numerusform>
            <numerusform>%n cells pasted</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RegisterView</name>
    <message numerus="yes">
        <source>%1: %n module(s)</source>
        <translation>
            <numerusform>%1: %n module</numerusform>
            <numerusform>%1: %n modules</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1: %n module(s) found of %2</source>
        <translation>
            <numerusform>%1: %n module found of %2</numerusform>
            <numerusform>%1: %n modules found of %2</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RowWording</name>
    <message numerus="yes">
        <source>%n parameter(s) as planned</source>
        <translation>
            <numerusform>%n parameter as planned</numerusform>
            <numerusform>%n parameters as planned</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n parameter(s) written, not read back</source>
        <translation>
            <numerusform>%n parameter written, not read back</numerusform>
            <numerusform>%n parameters written, not read back</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RunPanel</name>
    <message numerus="yes">
        <source>The plan has %n problem(s): F8 goes to the next</source>
        <translation>
            <numerusform>The plan has %n problem: F8 goes to the next</numerusform>
            <numerusform>The plan has %n problems: F8 goes to the next</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n problem(s)</source>
        <translation>
            <numerusform>%n problem</numerusform>
            <numerusform>%n problems</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>SiteRun</name>
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
</context>
</TS>
