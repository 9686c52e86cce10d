<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>DeviceTable</name>
    <message>
        <source>Reset Config Successfully</source>
        <translation>恢复默认配置成功</translation>
    </message>
    <message>
        <source>Reset Config Failed</source>
        <translation>恢复默认配置失败</translation>
    </message>
    <message>
        <source>Reboot Successfully</source>
        <translation>重启成功</translation>
    </message>
    <message>
        <source>Reboot Failed</source>
        <translation>重启失败</translation>
    </message>
    <message>
        <source>UnSelectAll</source>
        <translation>取消全选</translation>
    </message>
    <message>
        <source>SelectAll</source>
        <translation>全选</translation>
    </message>
    <message>
        <source>Login Success</source>
        <translation>登录成功</translation>
    </message>
    <message>
        <source>Need Reboot</source>
        <translation>需要重启</translation>
    </message>
    <message>
        <source>NO.</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP地址</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Destribe</source>
        <translation>描述</translation>
    </message>
    <message>
        <source>Mac Address</source>
        <translation>MAC地址</translation>
    </message>
    <message>
        <source>CloudID</source>
        <translation>云ID</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>版本</translation>
    </message>
    <message>
        <source>BuildDate</source>
        <translation>编译日期</translation>
    </message>
    <message>
        <source>Set Ip Fail</source>
        <translation>设置IP失败</translation>
    </message>
    <message>
        <source>Set Ip refused: last byte %1 is outside %2-%3</source>
        <translation>拒绝设置IP：末位%1超出%2-%3范围</translation>
    </message>
    <message>
        <source>Set Ip refused: %1 is the gateway</source>
        <translation>拒绝设置IP：%1是网关地址</translation>
    </message>
    <message>
        <source>Set Ip refused: %1 is this computer&apos;s address</source>
        <translation>拒绝设置IP：%1是本机地址</translation>
    </message>
    <message>
        <source>StartIndex in Config.ini is %1, but it must be %2 to %3. No address was changed; correct it and start again.</source>
        <translation>Config.ini中的StartIndex为%1，但必须在%2到%3之间。未修改任何地址，请改正后重新开始。</translation>
    </message>
    <message>
        <source>DevType</source>
        <translation>设备类型</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Gateway</source>
        <translation>网关</translation>
    </message>
    <message>
        <source>change IP failed</source>
        <translation>修改IP失败</translation>
    </message>
    <message>
        <source>A batch command is still running</source>
        <translation>批量命令仍在执行</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>Device history</source>
        <translation>设备历史</translation>
    </message>
    <message>
        <source>Device list</source>
        <translation>设备列表</translation>
    </message>
    <message>
        <source>Device menu</source>
        <translation>设备菜单</translation>
    </message>
    <message>
        <source>Export…</source>
        <translation>导出…</translation>
    </message>
    <message>
        <source>History of %1 (%2)</source>
        <translation>%1 (%2) 的历史记录</translation>
    </message>
    <message>
        <source>Last status time</source>
        <translation>最后状态时间</translation>
    </message>
    <message>
        <source>Wave</source>
        <translation>批次</translation>
    </message>
    <message>
        <source>No texts yet</source>
        <translation>暂无记录</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Please Select a Device</source>
        <translation>请选择设备</translation>
    </message>
    <message>
        <source>Prompt</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Reboot</source>
        <translation>重启</translation>
    </message>
    <message>
        <source>Reboot %1 device(s)?</source>
        <translation>重启 %1 台设备？</translation>
    </message>
    <message>
        <source>Check devices</source>
        <translation>检查设备</translation>
    </message>
    <message>
        <source>Reset configuration</source>
        <translation>恢复默认配置</translation>
    </message>
    <message>
        <source>Reset the configuration of %1 device(s) to factory defaults?</source>
        <translation>将 %1 台设备的配置恢复为出厂默认值？</translation>
    </message>
    <message>
        <source>Not supported over ONVIF</source>
        <translation>ONVIF 不支持此操作</translation>
    </message>
    <message>
        <source>%1 (ONVIF)</source>
        <translation>%1 (ONVIF)</translation>
    </message>
    <message>
        <source>Select failed</source>
        <translation>选中失败的设备</translation>
    </message>
    <message>
        <source>ONVIF probe addresses…</source>
        <translation>ONVIF 探测地址…</translation>
    </message>
    <message>
        <source>Show history</source>
        <translation>查看历史</translation>
    </message>
    <message>
        <source>Space ticks the current device, Ctrl+A ticks all, the menu key opens the device menu</source>
        <translation>空格勾选当前设备，Ctrl+A 勾选全部，菜单键打开设备菜单</translation>
    </message>
</context>
<context>
    <name>OnvifProbe</name>
    <message>
        <source>ONVIF probe addresses</source>
        <translation>ONVIF 探测地址</translation>
    </message>
    <message>
        <source>A search also asks these addresses directly for ONVIF cameras, for cameras the multicast search does not reach. One address or range a line, for example 192.168.5.20 or 192.168.5.20-40.</source>
        <translation>搜索时还会直接向这些地址查询 ONVIF 摄像机，用于组播搜索无法到达的摄像机。每行一个地址或地址范围，例如 192.168.5.20 或 192.168.5.20-40。</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IPv4 address or a range of them</source>
        <translation>“%1”不是 IPv4 地址或地址范围</translation>
    </message>
    <message>
        <source>The range &quot;%1&quot; runs backwards</source>
        <translation>地址范围“%1”的起止顺序颠倒</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a device&apos;s address (a broadcast, multicast or 0.0.0.0)</source>
        <translation>“%1”不是设备地址（广播、组播或 0.0.0.0）</translation>
    </message>
    <message>
        <source>More than %1 addresses in all</source>
        <translation>地址总数超过 %1 个</translation>
    </message>
</context>
<context>
    <name>DeviceStore</name>
    <message>
        <source>The device list was replaced</source>
        <translation>设备列表已被替换</translation>
    </message>
    <message>
        <source>No device in row %1</source>
        <translation>第%1行没有设备</translation>
    </message>
</context>
<context>
    <name>LoginDlg</name>
    <message>
        <source>Login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP地址</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>The port must be a number from 0 to 65535</source>
        <translation>端口必须是0到65535之间的数字</translation>
    </message>
    <message>
        <source>User name and password can each hold at most 11 bytes</source>
        <translation>用户名和密码各自最多只能有11个字节</translation>
    </message>
    <message>
        <source>Network is error</source>
        <translation>网络错误</translation>
    </message>
    <message>
        <source>System is busying</source>
        <translation>系统忙</translation>
    </message>
    <message>
        <source>Login timeout</source>
        <translation>登录超时</translation>
    </message>
    <message>
        <source>Password is error</source>
        <translation>密码错误</translation>
    </message>
    <message>
        <source>The user is not existed</source>
        <translation>用户不存在</translation>
    </message>
    <message>
        <source>The user is locked</source>
        <translation>用户已被锁定</translation>
    </message>
    <message>
        <source>The user is in blacklist</source>
        <translation>用户在黑名单中</translation>
    </message>
    <message>
        <source>The user has logined.</source>
        <translation>该用户已登录。</translation>
    </message>
    <message>
        <source>The user has logined</source>
        <translation>该用户已登录</translation>
    </message>
    <message>
        <source>Cann&apos;t find the device.</source>
        <translation>找不到设备。</translation>
    </message>
    <message>
        <source>Cann&apos;t find the device</source>
        <translation>找不到设备</translation>
    </message>
    <message>
        <source>Unknow Error</source>
        <translation>未知错误</translation>
    </message>
</context>
<context>
    <name>SetOEMID</name>
    <message>
        <source>SearchAndSet</source>
        <translation>搜索并设置</translation>
    </message>
</context>
<context>
    <name>Search</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
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
        <source>Search</source>
        <translation>搜索</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
</context>
</TS>
