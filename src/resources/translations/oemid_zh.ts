<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>FactoryRecords</name>
    <message>
        <location filename="../../oemid/factoryrecords.cpp" line="58"/>
        <source>Cannot create the folder %1</source>
        <translation>无法创建文件夹 %1</translation>
    </message>
    <message>
        <location filename="../../oemid/factoryrecords.cpp" line="127"/>
        <source>Creat logfile Failed</source>
        <translation>创建日志文件失败</translation>
    </message>
    <message>
        <location filename="../../oemid/factoryrecords.cpp" line="135"/>
        <source>create upload successful file failed</source>
        <translation>创建上传成功记录文件失败</translation>
    </message>
    <message>
        <location filename="../../oemid/factoryrecords.cpp" line="143"/>
        <source>create upload unsuccessful file failed</source>
        <translation>创建上传失败记录文件失败</translation>
    </message>
    <message>
        <source>The serial number holds a comma or a line break; no factory record can carry it</source>
        <translation>序列号含有逗号或换行符，出厂记录无法保存</translation>
    </message>
    <message>
        <source>The device MAC holds a comma or a line break; no factory record can carry it</source>
        <translation>设备MAC含有逗号或换行符，出厂记录无法保存</translation>
    </message>
    <message>
        <source>The OEMID holds a comma or a line break; no factory record can carry it</source>
        <translation>OEMID含有逗号或换行符，出厂记录无法保存</translation>
    </message>
    <message>
        <source>The station MAC holds a comma or a line break; no factory record can carry it</source>
        <translation>本机MAC含有逗号或换行符，出厂记录无法保存</translation>
    </message>
    <message>
        <source>OEMID writing stopped: factory records cannot be saved (%1)</source>
        <translation>已停止写入OEMID：出厂记录无法保存（%1）</translation>
    </message>
    <message>
        <source>OEMID not written: %1 factory records cannot be saved (%2); free space for them</source>
        <translation>未写入OEMID：%1 条出厂记录无法保存（%2）；请为其腾出空间</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>OEMID not written: no room for factory records in %1 (%2 bytes free); free space for them</source>
        <translation>未写入OEMID：%1 中没有空间保存出厂记录（剩余 %2 字节）；请腾出空间</translation>
    </message>
</context>
<context>
    <name>OemidWriter</name>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="174"/>
        <source>No OEMID assigned: set Assigned in the [OEMID] section of Config.ini</source>
        <translation>未分配 OEMID：请在 Config.ini 的 [OEMID] 节中设置 Assigned</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="176"/>
        <source>The OEMID may only hold Latin-1 characters</source>
        <translation>OEMID 只能包含 Latin-1 字符</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="178"/>
        <source>OEMID too long: %1 characters, at most %2</source>
        <translation>OEMID 过长：%1 个字符，最多 %2 个</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="187"/>
        <location filename="../../oemid/oemidwriter.cpp" line="223"/>
        <source>Station MAC too long: %1 characters, at most %2</source>
        <translation>本机 MAC 过长：%1 个字符，最多 %2 个</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="189"/>
        <source>Serial number too long: %1 characters, at most %2</source>
        <translation>序列号过长：%1 个字符，最多 %2 个</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="197"/>
        <source>OEMID and MAC too long for the device: %1 bytes, at most %2</source>
        <translation>OEMID 与 MAC 对设备而言过长：%1 字节，最多 %2 字节</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="246"/>
        <source>Set OEMID Failed</source>
        <translation>设置 OEMID 失败</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="252"/>
        <source>Set OEMID Success</source>
        <translation>设置 OEMID 成功</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="268"/>
        <source>Reget DevOEMID Failed</source>
        <translation>重新读取设备 OEMID 失败</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="271"/>
        <source>Set OEMID Incorrect</source>
        <translation>设置的 OEMID 不一致</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidwriter.cpp" line="285"/>
        <source>OEMID Repeat</source>
        <translation>OEMID 重复</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidvariant.cpp" line="14"/>
        <source>OEMID ERROR</source>
        <translation>OEMID 错误</translation>
    </message>
    <message>
        <location filename="../../oemid/oemidvariant.cpp" line="28"/>
        <source>Get Dev OEMID Error</source>
        <translation>获取设备 OEMID 出错</translation>
    </message>
    <message>
        <source>The OEMID may not hold a comma or a line break: the factory records could not carry it</source>
        <translation>OEMID不能含有逗号或换行符：出厂记录无法保存</translation>
    </message>
</context>
<context>
    <name>RecordUploader</name>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="47"/>
        <source>loaded</source>
        <translation>已上传</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="47"/>
        <location filename="../../oemid/recorduploader.cpp" line="48"/>
        <location filename="../../oemid/recorduploader.cpp" line="49"/>
        <source>item</source>
        <translation>条</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="47"/>
        <source>failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="48"/>
        <source>total</source>
        <translation>共</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="75"/>
        <source>the dir is empty</source>
        <translation>目录为空</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="81"/>
        <source>The factory-record service is not configured: set Host in the [Upload] section of Config.ini.</source>
        <translation>未配置出厂记录服务：请在 Config.ini 的 [Upload] 节中设置 Host。</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="93"/>
        <source>uploadfile open failed</source>
        <translation>上传文件打开失败</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="129"/>
        <source>net is failed</source>
        <translation>网络连接失败</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="142"/>
        <location filename="../../oemid/recorduploader.cpp" line="151"/>
        <source>upload error</source>
        <translation>上传出错</translation>
    </message>
    <message>
        <location filename="../../oemid/recorduploader.cpp" line="188"/>
        <location filename="../../oemid/recorduploader.cpp" line="206"/>
        <source>create upload unsuccessful file failed</source>
        <translation>创建上传失败记录文件失败</translation>
    </message>
    <message>
        <source>Another upload of factory records is running; try again when it has ended.</source>
        <translation>另一个出厂记录上传正在进行，请在其结束后再试。</translation>
    </message>
    <message>
        <source>The system&apos;s CA certificates cannot be loaded, so no record could be sent.</source>
        <translation>无法加载系统的CA证书，因此没有发送任何记录。</translation>
    </message>
    <message>
        <source>The CA file %1 ([Upload] CAFile) cannot be loaded, so no record could be sent.</source>
        <translation>无法加载CA文件 %1（[Upload] CAFile），因此没有发送任何记录。</translation>
    </message>
    <message>
        <source>%1 lines are no factory records (a record has six fields): not sent, moved to %2.</source>
        <translation>%1 行不是出厂记录（一条记录有六个字段）：未上传，已移至 %2。</translation>
    </message>
    <message>
        <source>%1 lines are no factory records (a record has six fields): not sent.</source>
        <translation>%1 行不是出厂记录（一条记录有六个字段）：未上传。</translation>
    </message>
    <message>
        <source>The factory-record service did not answer within %1 s; every record stays for the next run.</source>
        <translation>出厂记录服务在 %1 秒内没有应答；所有记录留待下次上传。</translation>
    </message>
</context>
<context>
    <name>SetOEMID</name>
    <message>
        <source>SetOEMID</source>
        <translation>设置OEMID</translation>
    </message>
    <message>
        <source>OEMID:</source>
        <translation>OEMID：</translation>
    </message>
    <message>
        <source>allowrepeat</source>
        <translation>允许重复</translation>
    </message>
    <message>
        <source>synchronizationTime</source>
        <translation>同步时间</translation>
    </message>
    <message>
        <source>265X-&gt;264      </source>
        <translation>265X转264      </translation>
    </message>
    <message>
        <source>timeZone</source>
        <translation>时区</translation>
    </message>
    <message>
        <source>setlanguage</source>
        <translation>设置语言</translation>
    </message>
    <message>
        <source>uploadsetedlog</source>
        <translation>上传设置记录</translation>
    </message>
    <message>
        <source>Please be careful</source>
        <translation>请谨慎操作</translation>
    </message>
    <message>
        <source>Please choose way</source>
        <translation>请选择操作方式</translation>
    </message>
    <message>
        <source>Create uploaddir failed</source>
        <translation>创建上传目录失败</translation>
    </message>
    <message>
        <source>set IP success</source>
        <translation>设置IP成功</translation>
    </message>
    <message>
        <source>OEMID ERROR</source>
        <translation>OEMID错误</translation>
    </message>
    <message>
        <source>OEMID Repeat</source>
        <translation>OEMID重复</translation>
    </message>
    <message>
        <source>dev login failed</source>
        <translation>设备登录失败</translation>
    </message>
    <message>
        <source>Time zone</source>
        <translation>时区</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>Upload progress</source>
        <translation>上传进度</translation>
    </message>
</context>
</TS>
