<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>LogoCheck</name>
    <message>
        <location filename="../../logo/logocheck.cpp" line="12"/>
        <source>Logo meets requirements</source>
        <translation>Logo 符合要求</translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="14"/>
        <source>Please select logo first</source>
        <translation>请先选择 Logo</translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="16"/>
        <source>Logo size cannot be greater than 120kb</source>
        <translation>Logo 大小不能超过 120KB</translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="18"/>
        <source>Boot logo is abnormal</source>
        <translation>开机 Logo 异常</translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="20"/>
        <source>Logo cannot be used,please check whether the picture meets the requirements </source>
        <translation>Logo 无法使用，请检查图片是否符合要求 </translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="22"/>
        <source>Channel logo is abnormal</source>
        <translation>通道背景 Logo 异常</translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="24"/>
        <source>Shutdown logo is abnormal</source>
        <translation>关机 Logo 异常</translation>
    </message>
    <message>
        <location filename="../../logo/logocheck.cpp" line="26"/>
        <source>Blind logo is abnormal</source>
        <translation>遮挡 Logo 异常</translation>
    </message>
    <message>
        <source>A logo picture cannot be larger than 16 MB: %1</source>
        <translation>Logo 图片不能大于16MB：%1</translation>
    </message>
    <message>
        <location filename="../../logo/logocheckbox.cpp" line="13"/>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
    <message>
        <location filename="../../logo/logocheckbox.cpp" line="13"/>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>LogoPackageBuilder</name>
    <message>
        <location filename="../../logo/logopackage.cpp" line="144"/>
        <source>Cannot copy %1 to %2</source>
        <translation>无法将 %1 复制到 %2</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="157"/>
        <location filename="../../logo/logopackage.cpp" line="191"/>
        <source>Cannot create the directory %1</source>
        <translation>无法创建目录 %1</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="163"/>
        <location filename="../../logo/logopackage.cpp" line="195"/>
        <source>Cannot empty the directory %1</source>
        <translation>无法清空目录 %1</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="206"/>
        <location filename="../../logo/logopackage.cpp" line="379"/>
        <location filename="../../logo/logopackage.cpp" line="386"/>
        <location filename="../../logo/logopackage.cpp" line="408"/>
        <source>Cannot write %1</source>
        <translation>无法写入 %1</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="316"/>
        <source>Cannot start %1</source>
        <translation>无法启动 %1</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="332"/>
        <source>The squashfs tool made no image</source>
        <translation>squashfs 工具未生成镜像</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="347"/>
        <source>Cannot create %1</source>
        <translation>无法创建 %1</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="363"/>
        <source>%1 is too large for the package</source>
        <translation>%1 太大，无法放入升级包</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="368"/>
        <source>Cannot read %1</source>
        <translation>无法读取 %1</translation>
    </message>
    <message>
        <location filename="../../logo/logopackage.cpp" line="428"/>
        <source>The logo image does not fit the logo partition (%1 bytes)</source>
        <translation>Logo 镜像超出 Logo 分区大小（%1 字节）</translation>
    </message>
</context>
</TS>
