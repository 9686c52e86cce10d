<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CDialogTitle</name>
    <message>
        <source>Max</source>
        <translation>最大化</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>还原</translation>
    </message>
</context>
<context>
    <name>CMessageBox</name>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>CTallow</name>
    <message>
        <source>DVR/NVR Tallow</source>
        <translation>DVR/NVR Tallow 工厂工具</translation>
    </message>
    <message>
        <source>UpgradeLogo</source>
        <translation>升级Logo</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>set oemid</source>
        <translation>设置OEMID</translation>
    </message>
    <message>
        <source>Are you sure you want to exit?</source>
        <translation>确定要退出吗？</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
</context>
<context>
    <name>CTallowClass</name>
    <message>
        <source>CTallow</source>
        <translation>CTallow</translation>
    </message>
</context>
<context>
    <name>CTitleBar</name>
    <message>
        <source>Min</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Max</source>
        <translation>最大化</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
</TS>
