<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Search</name>
    <message>
        <source>setOEMID</source>
        <translation>设置OEMID</translation>
    </message>
    <message>
        <source>can repeat</source>
        <translation>可重复</translation>
    </message>
    <message>
        <source>upload</source>
        <translation>上传</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>ConfigFile</source>
        <translation>配置文件</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>浏览</translation>
    </message>
    <message>
        <source>FileName</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Device password</source>
        <translation>设备密码</translation>
    </message>
    <message>
        <source>Configuration file</source>
        <translation>配置文件</translation>
    </message>
    <message>
        <source>Browse for a configuration file</source>
        <translation>浏览配置文件</translation>
    </message>
    <message>
        <source>Upgrade package</source>
        <translation>升级包</translation>
    </message>
    <message>
        <source>Browse for an upgrade package</source>
        <translation>浏览升级包</translation>
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
        <source>Check every ticked device, then upgrade them in waves; a wave that fails halts the rest</source>
        <translation>先检查所有勾选的设备，再分批升级；某一批失败时其余设备暂停</translation>
    </message>
</context>
<context>
    <name>UpgradeWidget</name>
    <message>
        <source>Please Select a Program</source>
        <translation>请选择升级程序</translation>
    </message>
    <message>
        <source>UnZip Program Fail</source>
        <translation>解压升级程序失败</translation>
    </message>
    <message>
        <source>Open InstallDesc Fail</source>
        <translation>打开InstallDesc失败</translation>
    </message>
    <message>
        <source>UnZip Program Fail: out of memory</source>
        <translation>解压升级程序失败：内存不足</translation>
    </message>
    <message>
        <source>UnZip Program Fail: the package unpacks to more than %1 MB or %2 files</source>
        <translation>解压升级程序失败：升级包解压后超过%1MB或%2个文件</translation>
    </message>
    <message>
        <source>UnZip Program Fail: the package changed while it was read</source>
        <translation>解压升级程序失败：读取期间升级包被更改</translation>
    </message>
    <message>
        <source>Upgrade Fail: the package file changed after it was checked; nothing was sent</source>
        <translation>升级失败：升级包文件在检查后被更改，未发送任何数据</translation>
    </message>
    <message>
        <source>Please Select a Device</source>
        <translation>请选择设备</translation>
    </message>
    <message>
        <source>An upgrade is still running. Please wait until every device has finished.</source>
        <translation>升级仍在进行中，请等待所有设备完成后再试。</translation>
    </message>
    <message>
        <source>Choose a file to open</source>
        <translation>选择要打开的文件</translation>
    </message>
    <message>
        <source>Upgrade File(*.bin);;Files(*.*)</source>
        <translation>升级文件(*.bin);;所有文件(*.*)</translation>
    </message>
    <message>
        <source>Config File(*.cfg)</source>
        <translation>配置文件(*.cfg)</translation>
    </message>
    <message>
        <source>Login Success</source>
        <translation>登录成功</translation>
    </message>
    <message>
        <source>Invalid hardware</source>
        <translation>硬件不匹配</translation>
    </message>
    <message>
        <source>Start Upgrade</source>
        <translation>开始升级</translation>
    </message>
    <message>
        <source>Upgrade Failed</source>
        <translation>升级启动失败</translation>
    </message>
    <message>
        <source>ImportConfigSuccess</source>
        <translation>导入配置成功</translation>
    </message>
    <message>
        <source>ImportConfigFailed</source>
        <translation>导入配置失败</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>就绪</translation>
    </message>
    <message>
        <source>Verified %1 %2</source>
        <translation>已验证 %1 %2</translation>
    </message>
    <message>
        <source>Verified %1</source>
        <translation>已验证 %1</translation>
    </message>
    <message>
        <source>Not verified: version unchanged</source>
        <translation>未验证：版本未变</translation>
    </message>
    <message>
        <source>Not verified: no answer after %1 s</source>
        <translation>未验证：%1 秒后仍无应答</translation>
    </message>
    <message>
        <source>Upgrade Success</source>
        <translation>升级成功</translation>
    </message>
    <message>
        <source>Upgrade Fail</source>
        <translation>升级失败</translation>
    </message>
    <message>
        <source>Upgrade Progress:</source>
        <translation>升级进度:</translation>
    </message>
    <message>
        <source>Send Progress:</source>
        <translation>发送进度:</translation>
    </message>
    <message>
        <source>No enough memory</source>
        <translation>内存不足</translation>
    </message>
    <message>
        <source>Invaild upgrade packet</source>
        <translation>无效的升级包</translation>
    </message>
    <message>
        <source>Some part upgrade fail</source>
        <translation>部分升级失败</translation>
    </message>
    <message>
        <source>Invalid vendor</source>
        <translation>厂商不匹配</translation>
    </message>
    <message>
        <source>Invalid compalible</source>
        <translation>兼容性不匹配</translation>
    </message>
    <message>
        <source>Invalid version</source>
        <translation>版本不匹配</translation>
    </message>
    <message>
        <source>Invalid wifi drive</source>
        <translation>WiFi驱动不匹配</translation>
    </message>
    <message>
        <source>Upgrade timed out: the device did not finish in time</source>
        <translation>升级超时：设备未在限定时间内完成升级</translation>
    </message>
    <message>
        <source>Unknow error</source>
        <translation>未知错误</translation>
    </message>
    <message>
        <source>No ticked device passed the check; nothing was sent.</source>
        <translation>没有勾选的设备通过检查，未发送任何数据。</translation>
    </message>
    <message>
        <source>Runs in waves are not available here.</source>
        <translation>此处无法分批运行。</translation>
    </message>
</context>
</TS>
