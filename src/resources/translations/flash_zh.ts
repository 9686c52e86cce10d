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
</context>
</TS>
