<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>TallowCtl</name>
    <message>
        <source>JSON Lines on stdout (the default when stdout is no terminal)</source>
        <translation>在标准输出上输出 JSON Lines（标准输出不是终端时默认如此）</translation>
    </message>
    <message>
        <source>Work on this device only (IPv4 or MAC address); may be repeated</source>
        <translation>只处理此设备（IPv4 或 MAC 地址）；可重复给出</translation>
    </message>
    <message>
        <source>address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Work on the devices listed in this file</source>
        <translation>处理此文件中列出的设备</translation>
    </message>
    <message>
        <source>file</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>How long the search listens, in ms (default 5000)</source>
        <translation>搜索等待应答的时间，单位毫秒（默认 5000）</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>毫秒</translation>
    </message>
    <message>
        <source>Read the device password from this file (else TALLOW_PASSWORD, else a prompt on a terminal, else empty)</source>
        <translation>从此文件读取设备密码（否则取 TALLOW_PASSWORD，否则在终端上询问，否则为空）</translation>
    </message>
    <message>
        <source>Try "tallowctl %1 --help".</source>
        <translation>请尝试 "tallowctl %1 --help"。</translation>
    </message>
    <message>
        <source>--search-time takes 100 to 60000 ms</source>
        <translation>--search-time 的取值为 100 到 60000 毫秒</translation>
    </message>
    <message>
        <source>The search found no device</source>
        <translation>搜索没有找到设备</translation>
    </message>
    <message>
        <source>The search found none of the devices named</source>
        <translation>搜索没有找到任何指定的设备</translation>
    </message>
    <message>
        <source>At the end, write the table as CSV to this file, as the table's Export does</source>
        <translation>结束时像表格的导出功能那样，将表格以 CSV 格式写入此文件</translation>
    </message>
    <message>
        <source>Interrupted: no further device starts; waiting for the devices under way (Ctrl+C again stops them)</source>
        <translation>已中断：不再启动新设备；正在等待进行中的设备（再按 Ctrl+C 将停止它们）</translation>
    </message>
    <message>
        <source>Interrupted again: stopping the devices under way</source>
        <translation>再次中断：正在停止进行中的设备</translation>
    </message>
    <message>
        <source>Stopped: interrupted</source>
        <translation>已停止：被中断</translation>
    </message>
    <message>
        <source>Not started: interrupted</source>
        <translation>未开始：被中断</translation>
    </message>
    <message>
        <source>Checks the devices as an upgrade would before its transfer (login, OEMID, hardware) and sends nothing.</source>
        <translation>像升级在传输前那样检查设备（登录、OEMID、硬件），不发送任何数据。</translation>
    </message>
    <message>
        <source>Upgrades the firmware of the devices: address change (ModifyIP), OEMID step, configuration import, transfer and verification, as the firmware tab does.</source>
        <translation>升级设备固件：与固件页相同，包括修改地址（ModifyIP）、OEMID 步骤、导入配置、传输和校验。</translation>
    </message>
    <message>
        <source>The upgrade package (a zip with an InstallDesc)</source>
        <translation>升级包（含 InstallDesc 的 zip 文件）</translation>
    </message>
    <message>
        <source>A configuration file imported into each device before its transfer</source>
        <translation>传输前导入每台设备的配置文件</translation>
    </message>
    <message>
        <source>The run did not start</source>
        <translation>任务没有启动</translation>
    </message>
    <message>
        <source>tallowctl %1</source>
        <translation>tallowctl %1</translation>
    </message>
    <message>
        <source>Searches the network and lists the devices found, as the firmware tab's table (--tab logo or oemid: as that tab lists them).</source>
        <translation>搜索网络并按固件页的表格列出找到的设备（--tab logo 或 oemid：按该页的方式列出）。</translation>
    </message>
    <message>
        <source>Whose table: firmware (default), logo or oemid</source>
        <translation>使用哪个页的表格：firmware（默认）、logo 或 oemid</translation>
    </message>
    <message>
        <source>tab</source>
        <translation>页</translation>
    </message>
    <message>
        <source>--tab takes firmware, logo or oemid</source>
        <translation>--tab 的取值为 firmware、logo 或 oemid</translation>
    </message>
    <message>
        <source>Devices found: %1</source>
        <translation>找到的设备：%1</translation>
    </message>
    <message>
        <source>list the devices a search finds</source>
        <translation>列出搜索到的设备</translation>
    </message>
    <message>
        <source>check the devices before flashing</source>
        <translation>烧写前检查设备</translation>
    </message>
    <message>
        <source>upgrade the firmware</source>
        <translation>升级固件</translation>
    </message>
    <message>
        <source>logo make / logo burn: make or burn the logo package</source>
        <translation>logo make / logo burn：制作或烧写 Logo 包</translation>
    </message>
    <message>
        <source>change the devices' addresses (batch IP change)</source>
        <translation>修改设备地址（批量修改 IP）</translation>
    </message>
    <message>
        <source>reset the devices' configuration</source>
        <translation>恢复设备的默认配置</translation>
    </message>
    <message>
        <source>reboot the devices</source>
        <translation>重启设备</translation>
    </message>
    <message>
        <source>records upload: send the factory records</source>
        <translation>records upload：上传出厂记录</translation>
    </message>
    <message>
        <source>print a tab's run log</source>
        <translation>显示某一页的运行日志</translation>
    </message>
    <message>
        <source>write the table as CSV</source>
        <translation>将表格写成 CSV</translation>
    </message>
    <message>
        <source>Runs Tallow's batch jobs on the devices of this station's network, without a window.</source>
        <translation>无需窗口，在本工位网络中的设备上运行 Tallow 的批量任务。</translation>
    </message>
    <message>
        <source>Shows the version and the files in use</source>
        <translation>显示版本和正在使用的文件</translation>
    </message>
    <message>
        <source>One of:
%1</source>
        <translation>以下之一：
%1</translation>
    </message>
    <message>
        <source>&lt;command&gt; [options]</source>
        <translation>&lt;命令&gt; [选项]</translation>
    </message>
    <message>
        <source>Unknown command "%1". Try "tallowctl --help".</source>
        <translation>未知命令 "%1"。请尝试 "tallowctl --help"。</translation>
    </message>
    <message>
        <source>name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>[themes] Solution: SimpChinese for Chinese texts</source>
        <translation>[themes] Solution：SimpChinese 表示中文界面</translation>
    </message>
    <message>
        <source>0|1</source>
        <translation>0|1</translation>
    </message>
    <message>
        <source>[UpgradeInfo] ModifyIP: change each device's address first</source>
        <translation>[UpgradeInfo] ModifyIP：先修改每台设备的地址</translation>
    </message>
    <message>
        <source>n</source>
        <translation>n</translation>
    </message>
    <message>
        <source>[UpgradeInfo] StartIndex: last address byte = row + n</source>
        <translation>[UpgradeInfo] StartIndex：地址最后一字节 = 行号 + n</translation>
    </message>
    <message>
        <source>[UpgradeInfo] Verify: check each device's version after its restart</source>
        <translation>[UpgradeInfo] Verify：设备重启后检查其版本</translation>
    </message>
    <message>
        <source>seconds</source>
        <translation>秒</translation>
    </message>
    <message>
        <source>[UpgradeInfo] VerifyTimeout: time a device has to come back</source>
        <translation>[UpgradeInfo] VerifyTimeout：等待设备恢复的时间</translation>
    </message>
    <message>
        <source>[UpgradeInfo] StartSpacingMs: between two device starts</source>
        <translation>[UpgradeInfo] StartSpacingMs：两台设备启动之间的间隔</translation>
    </message>
    <message>
        <source>[UpgradeInfo] MaxParallel: devices in flight at once</source>
        <translation>[UpgradeInfo] MaxParallel：同时进行的设备数</translation>
    </message>
    <message>
        <source>link</source>
        <translation>链接</translation>
    </message>
    <message>
        <source>[AppLink] IOS: the iOS app link</source>
        <translation>[AppLink] IOS：iOS 应用链接</translation>
    </message>
    <message>
        <source>[AppLink] Android: the Android app link</source>
        <translation>[AppLink] Android：Android 应用链接</translation>
    </message>
    <message>
        <source>[Logo] Boot: the boot picture</source>
        <translation>[Logo] Boot：开机图片</translation>
    </message>
    <message>
        <source>[Logo] Close: the shutdown picture</source>
        <translation>[Logo] Close：关机图片</translation>
    </message>
    <message>
        <source>[Logo] Loss: the video-loss picture</source>
        <translation>[Logo] Loss：视频丢失图片</translation>
    </message>
    <message>
        <source>[Logo] Blind: the blind picture</source>
        <translation>[Logo] Blind：遮挡图片</translation>
    </message>
    <message>
        <source>[OEMID] SetEn: write the OEMID before flashing</source>
        <translation>[OEMID] SetEn：烧写前写入 OEMID</translation>
    </message>
    <message>
        <source>[OEMID] RepeatEn: allow an OEMID to be written again</source>
        <translation>[OEMID] RepeatEn：允许重复写入 OEMID</translation>
    </message>
    <message>
        <source>oemid</source>
        <translation>oemid</translation>
    </message>
    <message>
        <source>[OEMID] Assigned: the OEMID written into devices</source>
        <translation>[OEMID] Assigned：写入设备的 OEMID</translation>
    </message>
    <message>
        <source>host</source>
        <translation>主机</translation>
    </message>
    <message>
        <source>[Upload] Host: the factory-record service</source>
        <translation>[Upload] Host：出厂记录服务</translation>
    </message>
    <message>
        <source>port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>[Upload] Port: its HTTPS port</source>
        <translation>[Upload] Port：其 HTTPS 端口</translation>
    </message>
    <message>
        <source>[Upload] CAFile: the CA that signs the service's certificate</source>
        <translation>[Upload] CAFile：为服务证书签名的 CA</translation>
    </message>
    <message>
        <source>--%1 takes 0 or 1, not "%2"</source>
        <translation>--%1 的取值为 0 或 1，而不是 "%2"</translation>
    </message>
    <message>
        <source>--%1 takes a whole number, not "%2"</source>
        <translation>--%1 的取值为整数，而不是 "%2"</translation>
    </message>
    <message>
        <source>No place for a private copy of Config.ini: %1</source>
        <translation>无处存放 Config.ini 的私有副本：%1</translation>
    </message>
    <message>
        <source>Cannot copy %1 to %2</source>
        <translation>无法将 %1 复制到 %2</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Cannot read the device file %1: %2</source>
        <translation>无法读取设备文件 %1：%2</translation>
    </message>
    <message>
        <source>"%1" is neither an IPv4 address nor a MAC address</source>
        <translation>"%1" 既不是 IPv4 地址也不是 MAC 地址</translation>
    </message>
    <message>
        <source>logo make: makes one logo package per device; logo burn: makes the package and burns it into the devices, as the logo tab does. The pictures and links come from Config.ini or the flags.</source>
        <translation>logo make：为每台设备制作一个 Logo 包；logo burn：像 Logo 页那样制作 Logo 包并烧写到设备中。图片和链接取自 Config.ini 或选项。</translation>
    </message>
    <message>
        <source>make or burn</source>
        <translation>make 或 burn</translation>
    </message>
    <message>
        <source>logo takes one action: make or burn</source>
        <translation>logo 只接受一个操作：make 或 burn</translation>
    </message>
    <message>
        <source>Cannot read the password file %1: %2</source>
        <translation>无法读取密码文件 %1：%2</translation>
    </message>
    <message>
        <source>Device password: </source>
        <translation>设备密码：</translation>
    </message>
    <message>
        <source>Not found</source>
        <translation>未找到</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>  failed     %1  %2</source>
        <translation>  失败       %1  %2</translation>
    </message>
    <message>
        <source>  in flight  %1  %2</source>
        <translation>  进行中     %1  %2</translation>
    </message>
    <message>
        <source>%1: %2 of %3 devices done</source>
        <translation>%1：已完成 %2/%3 台设备</translation>
    </message>
    <message>
        <source>%1 succeeded, %2 failed, %3 unfinished, of %4 devices</source>
        <translation>共 %4 台设备：%1 台成功，%2 台失败，%3 台未完成</translation>
    </message>
    <message>
        <source>; %1 not supported over ONVIF (neither succeeded nor failed)</source>
        <translation>；%1 台设备 ONVIF 不支持此操作（不计成功也不计失败）</translation>
    </message>
    <message>
        <source> (interrupted)</source>
        <translation>（已中断）</translation>
    </message>
    <message>
        <source>Whose table: firmware, logo or oemid (default %1)</source>
        <translation>使用哪个页的表格：firmware、logo 或 oemid（默认 %1）</translation>
    </message>
    <message>
        <source>%1 Give --yes to go ahead without a terminal.</source>
        <translation>%1 没有终端时请给出 --yes 以继续。</translation>
    </message>
    <message>
        <source>Reboots the devices, as the table's Reboot does.</source>
        <translation>像表格的重启功能那样重启设备。</translation>
    </message>
    <message>
        <source>Resets the devices' configuration to factory defaults, as the table's Reset Config does.</source>
        <translation>像表格的恢复默认配置功能那样，将设备配置恢复为出厂默认值。</translation>
    </message>
    <message>
        <source>Do not ask for confirmation</source>
        <translation>不询问确认</translation>
    </message>
    <message>
        <source>Changes the devices' addresses as a run with ModifyIP does: the last address byte becomes the row index (from 0) plus StartIndex, never .0, .255, the gateway or this station's own address.</source>
        <translation>像开启 ModifyIP 的任务那样修改设备地址：地址最后一字节为行号（从 0 开始）加 StartIndex，绝不会是 .0、.255、网关或本工位自己的地址。</translation>
    </message>
    <message>
        <source>Address changed to %1</source>
        <translation>地址已改为 %1</translation>
    </message>
    <message>
        <source>Address not changed</source>
        <translation>地址未修改</translation>
    </message>
    <message>
        <source>Prints a tab's run log of one day: every text its devices' status and OEMID cells received, with time and device.</source>
        <translation>显示某一页某一天的运行日志：其设备的状态和 OEMID 单元格收到的每条文字，附时间和设备。</translation>
    </message>
    <message>
        <source>The day (default today)</source>
        <translation>日期（默认今天）</translation>
    </message>
    <message>
        <source>yyyy-MM-dd</source>
        <translation>yyyy-MM-dd</translation>
    </message>
    <message>
        <source>Only this device (its MAC, or address:port)</source>
        <translation>只显示此设备（其 MAC，或 地址:端口）</translation>
    </message>
    <message>
        <source>device</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>--date takes a day as yyyy-MM-dd</source>
        <translation>--date 的取值为 yyyy-MM-dd 格式的日期</translation>
    </message>
    <message>
        <source>No run log for that day: %1</source>
        <translation>该日没有运行日志：%1</translation>
    </message>
    <message>
        <source>Searches and writes the table as CSV, as the table's Export does (RFC 4180, UTF-8, CRLF).</source>
        <translation>搜索设备，并像表格的导出功能那样将表格写成 CSV（RFC 4180、UTF-8、CRLF）。</translation>
    </message>
    <message>
        <source>The CSV file (default: stdout)</source>
        <translation>CSV 文件（默认：标准输出）</translation>
    </message>
    <message>
        <source>records upload: sends the factory records written so far to the record service, as the tabs' Upload does.</source>
        <translation>records upload：像各页的上传功能那样，将已写入的出厂记录发送到记录服务。</translation>
    </message>
    <message>
        <source>The action</source>
        <translation>操作</translation>
    </message>
    <message>
        <source>records takes one action: upload</source>
        <translation>records 只接受一个操作：upload</translation>
    </message>
    <message>
        <source>Writes the assigned OEMID into the devices and reads it back, then pushes the chosen settings (clock, time zone, language, H.264 instead of H.265X), one device after another, as the OEMID tab does.</source>
        <translation>将分配的 OEMID 写入设备并读回核对，然后推送所选设置（时钟、时区、语言、以 H.264 代替 H.265X），逐台进行，与 OEMID 页相同。</translation>
    </message>
    <message>
        <source>Set the devices' clocks to this station's time</source>
        <translation>将设备时钟设为本工位的时间</translation>
    </message>
    <message>
        <source>Set the devices' time zone, as the tab lists it (UTC+08:00)</source>
        <translation>设置设备时区，写法与页面列表相同（UTC+08:00）</translation>
    </message>
    <message>
        <source>zone</source>
        <translation>时区</translation>
    </message>
    <message>
        <source>Set the devices' language (SimpChinese, English, ...)</source>
        <translation>设置设备语言（SimpChinese、English 等）</translation>
    </message>
    <message>
        <source>Turn the devices' H.265X off</source>
        <translation>关闭设备的 H.265X</translation>
    </message>
    <message>
        <source>--time-zone takes a zone from UTC-12:00 to UTC+13:00, not &quot;%1&quot;</source>
        <translation>--time-zone 需要 UTC-12:00 至 UTC+13:00 之间的时区，而不是“%1”</translation>
    </message>
    <message>
        <source>--language takes one of the tab's languages, not &quot;%1&quot;</source>
        <translation>--language 需要页面列表中的一种语言，而不是“%1”</translation>
    </message>
    <message>
        <source>write the OEMID and the OEMID tab's settings</source>
        <translation>写入 OEMID 及 OEMID 页的设置</translation>
    </message>
    <message>
        <source>[Waves] Enabled: check every device, then upgrade in waves</source>
        <translation>[Waves] Enabled：先检查每台设备，再分批升级</translation>
    </message>
    <message>
        <source>n|n%</source>
        <translation>n|n%</translation>
    </message>
    <message>
        <source>[Waves] First: devices of the first wave</source>
        <translation>[Waves] First：第一批的设备数</translation>
    </message>
    <message>
        <source>xF|+n</source>
        <translation>xF|+n</translation>
    </message>
    <message>
        <source>[Waves] Growth: each next wave's size</source>
        <translation>[Waves] Growth：之后每批的规模</translation>
    </message>
    <message>
        <source>[Waves] Halt: failures of one wave that halt the run</source>
        <translation>[Waves] Halt：一批中导致运行中止的失败数</translation>
    </message>
    <message>
        <source>Halted: wave %1 of %2 failed (%3 of its %4 devices did not end verified; the run halts at %5); %6 devices were not started</source>
        <translation>已中止：第 %1 批（共 %2 批）失败（该批 %4 台设备中有 %3 台未通过校验；失败达到 %5 台即中止）；%6 台设备未开始</translation>
    </message>
    <message>
        <source>Halted: wave %1 of %2 failed (%3 of its %4 devices did not end burnt; the run halts at %5); %6 devices were not started</source>
        <translation>已中止：第 %1 批（共 %2 批）失败（该批 %4 台设备中有 %3 台未烧录成功；失败达到 %5 台即中止）；%6 台设备未开始</translation>
    </message>
</context>
</TS>
