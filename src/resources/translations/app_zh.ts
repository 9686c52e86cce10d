<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AppPaths</name>
    <message>
        <source>cannot create %1</source>
        <translation>无法创建 %1</translation>
    </message>
    <message>
        <source>cannot copy %1 to %2</source>
        <translation>无法将 %1 复制到 %2</translation>
    </message>
    <message>
        <source>Program</source>
        <translation>程序</translation>
    </message>
    <message>
        <source>Shipped data</source>
        <translation>随附数据</translation>
    </message>
    <message>
        <source>Settings (Config.ini)</source>
        <translation>设置 (Config.ini)</translation>
    </message>
    <message>
        <source>Run logs</source>
        <translation>运行日志</translation>
    </message>
    <message>
        <source>Factory records</source>
        <translation>出厂记录</translation>
    </message>
    <message>
        <source>Logo packages</source>
        <translation>Logo 升级包</translation>
    </message>
    <message>
        <source>Scratch files</source>
        <translation>临时文件</translation>
    </message>
    <message>
        <source>Crash report</source>
        <translation>崩溃报告</translation>
    </message>
</context>
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
    <message>
        <source>Maximize</source>
        <translation>最大化</translation>
    </message>
    <message>
        <source>Restore</source>
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
    <message>
        <source>Tasks</source>
        <translation>任务</translation>
    </message>
    <message>
        <source>About Tallow</source>
        <translation>关于 Tallow</translation>
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
    <message>
        <source>Minimize</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>最大化</translation>
    </message>
</context>
</TS>
