<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>WavePlan</name>
    <message>
        <source>Config.ini [Waves] %1=%2 cannot be read; see the README for its format.</source>
        <translation>Config.ini [Waves] %1=%2 无法读取，格式见 README。</translation>
    </message>
</context>
<context>
    <name>WaveRun</name>
    <message>
        <source>Halted: wave %1 failed</source>
        <translation>已暂停：第 %1 批失败</translation>
    </message>
    <message>
        <source>Wave %1</source>
        <translation>第 %1 批</translation>
    </message>
    <message>
        <source>Wave %1 of %2 failed: %3 of its %4 devices did not end verified (the run halts at %5). %6 devices were not started.</source>
        <translation>第 %1 批（共 %2 批）失败：该批 %4 台设备中有 %3 台未通过验证（失败达到 %5 台即暂停）。%6 台设备未开始升级。</translation>
    </message>
    <message>
        <source>Wave %1 of %2 failed: %3 of its %4 devices did not end burnt (the run halts at %5). %6 devices were not started.</source>
        <translation>第 %1 批（共 %2 批）失败：该批 %4 台设备中有 %3 台未烧录成功（失败达到 %5 台即暂停）。%6 台设备未开始烧录。</translation>
    </message>
    <message>
        <source>Go on with wave %1?</source>
        <comment>firmware upgrade</comment>
        <translation>继续升级第 %1 批？</translation>
    </message>
    <message>
        <source>Go on with wave %1?</source>
        <comment>logo burn</comment>
        <translation>继续烧录第 %1 批？</translation>
    </message>
</context>
<context>
    <name>WaveHaltBox</name>
    <message>
        <source>Go on</source>
        <translation>继续</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
</context>
</TS>
