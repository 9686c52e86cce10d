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
        <source>The iOS app link is too long for the device: %1 bytes with the App Store address, at most %2. Please shorten it.</source>
        <translation>iOS 应用链接过长，设备无法保存：含 App Store 地址共 %1 字节，最多 %2 字节。请缩短链接。</translation>
    </message>
    <message>
        <source>The Android app link is too long for the device: %1 bytes, at most %2. Please shorten it.</source>
        <translation>Android 应用链接过长，设备无法保存：共 %1 字节，最多 %2 字节。请缩短链接。</translation>
    </message>
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
<context>
    <name>UpgradeLogoWidget</name>
    <message>
        <source>A device is still being logged in. Please wait for its result, then click again.</source>
        <translation>设备仍在登录中，请等待结果显示后再点击。</translation>
    </message>
    <message>
        <source>The devices already started are still being burnt. This run starts when they have finished.</source>
        <translation>已开始的设备仍在烧录中，本次任务将在它们完成后开始。</translation>
    </message>
    <message>
        <source>A logo run is still going. Please wait until every device has finished.</source>
        <translation>Logo 烧录仍在进行中，请等待所有设备完成后再试。</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>搜索</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>选择</translation>
    </message>
    <message>
        <source>Reverse</source>
        <translation>反选</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Device Password</source>
        <translation>设备密码</translation>
    </message>
    <message>
        <source>Boot logo</source>
        <translation>开机 Logo</translation>
    </message>
    <message>
        <source>Check Logo</source>
        <translation>检查 Logo</translation>
    </message>
    <message>
        <source>Select Logo</source>
        <translation>选择 Logo</translation>
    </message>
    <message>
        <source>Picture requirements(JPG)</source>
        <translation>图片要求（JPG）</translation>
    </message>
    <message>
        <source>a.Resolution:800*600</source>
        <translation>a.分辨率：800*600</translation>
    </message>
    <message>
        <source>b.File is no larger than 120KB without gradient JPG file</source>
        <translation>b.文件不大于 120KB，且为无渐变的 JPG 文件</translation>
    </message>
    <message>
        <source>c.You can check the picture to confirm whether it meets the requirements</source>
        <translation>c.可先检查图片，确认是否符合要求</translation>
    </message>
    <message>
        <source>d.You must select a boot logo before performing modification operations</source>
        <translation>d.修改前必须先选择开机 Logo</translation>
    </message>
    <message>
        <source>Steps:1.Search And Select NVR,Input Passward 2.Select Logo You Need 3.Input AppLink 4.Click Modify</source>
        <translation>步骤：1.搜索并勾选 NVR，输入密码 2.选择需要的 Logo 3.输入 App 链接 4.点击修改</translation>
    </message>
    <message>
        <source>Channel background</source>
        <translation>通道背景</translation>
    </message>
    <message>
        <source>Picture requirements(GIF)</source>
        <translation>图片要求（GIF）</translation>
    </message>
    <message>
        <source>a.Recommended resolution(200*100)</source>
        <translation>a.建议分辨率（200*100）</translation>
    </message>
    <message>
        <source>b.Background color RGB (0,0,0)</source>
        <translation>b.背景色 RGB (0,0,0)</translation>
    </message>
    <message>
        <source>Shutdown logo</source>
        <translation>关机 Logo</translation>
    </message>
    <message>
        <source>a.Recommended resolution(800*600)</source>
        <translation>a.建议分辨率（800*600）</translation>
    </message>
    <message>
        <source>b.No gradient</source>
        <translation>b.无渐变</translation>
    </message>
    <message>
        <source>c.Use boot logo when not exist</source>
        <translation>c.不选择时使用开机 Logo</translation>
    </message>
    <message>
        <source>Blind logo</source>
        <translation>遮挡 Logo</translation>
    </message>
    <message>
        <source>AppDownloadLink</source>
        <translation>App 下载链接</translation>
    </message>
    <message>
        <source>IOS App Link</source>
        <translation>iOS App 链接</translation>
    </message>
    <message>
        <source>App Link</source>
        <translation>App 链接</translation>
    </message>
    <message>
        <source>Android App Link</source>
        <translation>安卓 App 链接</translation>
    </message>
    <message>
        <source>a.If you want to modify, please enter the app link</source>
        <translation>a.如需修改，请输入 App 链接</translation>
    </message>
    <message>
        <source>b.Only support device version after 20200113</source>
        <translation>b.仅支持 20200113 之后的设备版本</translation>
    </message>
    <message>
        <source>OEMID</source>
        <translation>OEMID</translation>
    </message>
    <message>
        <source>setOEMID</source>
        <translation>写入 OEMID</translation>
    </message>
    <message>
        <source>AllowRepeat</source>
        <translation>允许重复</translation>
    </message>
    <message>
        <source>UploadLog</source>
        <translation>上传记录</translation>
    </message>
    <message>
        <source>GetLogoPrograms</source>
        <translation>生成 Logo 升级包</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Login Success</source>
        <translation>登录成功</translation>
    </message>
    <message>
        <source>Get applink information failed</source>
        <translation>获取 App 链接信息失败</translation>
    </message>
    <message>
        <source>Please Select a Device</source>
        <translation>请选择设备</translation>
    </message>
    <message>
        <source>A batch command is still running</source>
        <translation>批量命令仍在执行</translation>
    </message>
    <message>
        <source>Choose a file to open</source>
        <translation>选择要打开的文件</translation>
    </message>
    <message>
        <source>Logo(*.jpg)</source>
        <translation>Logo(*.jpg)</translation>
    </message>
    <message>
        <source>Logo(*.gif)</source>
        <translation>Logo(*.gif)</translation>
    </message>
    <message>
        <source>Get Upgrade information failed</source>
        <translation>获取升级信息失败</translation>
    </message>
    <message>
        <source>Make Program Failed</source>
        <translation>生成升级包失败</translation>
    </message>
    <message>
        <source>Select Logo (boot logo)</source>
        <translation>选择 Logo（开机 Logo）</translation>
    </message>
    <message>
        <source>Select Logo (shutdown logo)</source>
        <translation>选择 Logo（关机 Logo）</translation>
    </message>
    <message>
        <source>Select Logo (channel background)</source>
        <translation>选择 Logo（通道背景）</translation>
    </message>
    <message>
        <source>Select Logo (blind logo)</source>
        <translation>选择 Logo（遮挡 Logo）</translation>
    </message>
    <message>
        <source>Upload progress</source>
        <translation>上传进度</translation>
    </message>
    <message>
        <source>Waves</source>
        <translation>分批</translation>
    </message>
    <message>
        <source>Modify checks every ticked device, then burns them in waves; a wave that fails halts the rest</source>
        <translation>修改时先检查所有勾选的设备，再分批烧录；某一批失败时其余设备暂停</translation>
    </message>
    <message>
        <source>No ticked device passed the check; nothing was sent.</source>
        <translation>没有勾选的设备通过检查，未发送任何数据。</translation>
    </message>
</context>
</TS>
