#pragma once

#include <string>

// The fixed texts of the core's refusals, shown to the person exactly as they stand.
namespace ostrak::message {

inline const std::string pathNotUsable = "请选择用户目录中的数据位置。";
inline const std::string pathThroughLink = "数据路径不能经过符号链接，请选择真实目录。";
inline const std::string pathUncheckable = "无法检查数据路径的权限。";
inline const std::string notDirectory = "所选位置不是目录。";
inline const std::string rootNotOwned = "工作站数据目录必须属于当前系统用户。";
inline const std::string rootModeUnsettable = "无法设置工作站私有目录权限。";
inline const std::string rootOpenToOthers =
    "工作站目录已向其他系统用户开放。请恢复仅本人可访问的权限，再打开。";
inline const std::string fileUnreadable = "文件无法读取，请检查目录和权限。";
inline const std::string fileUnacceptable = "文件类型、归属或大小不符合工作站要求。";
inline const std::string fileOverLimit = "文件超过读取限制。";
inline const std::string fileFormat = "工作站文件格式有误。原始资料已保留，请勿重新初始化。";
inline const std::string targetDirectoryUnusable = "目标目录不可写或不属于当前用户。";
inline const std::string fileSystemNotPrivate =
    "该位置的文件系统无法保证只有你能访问（例如 FAT、exFAT 或以 umask=022 挂载的 NTFS）。请选择 "
    "ext4、btrfs、xfs，或以 umask=077 挂载的 NTFS 上的目录。";
inline const std::string readOnlyDisk = "工作站所在的磁盘是只读的，无法写入。";
inline const std::string temporaryUncreatable = "无法创建临时文件。";
inline const std::string publishFailed = "文件保存失败或目标已存在，原稿未覆盖。";
inline const std::string identityChanged = "工作站身份发生变化，已停止自动连接。";
inline const std::string otherSchema = "此工作站由其他版本创建，请使用兼容版本打开。";
inline const std::string identityDamaged = "工作站身份损坏，已保留原始资料。";
inline const std::string invalidName = "名字请使用 1–48 个字，不含换行或控制字符。";
inline const std::string locationNotEmpty = "该目录已有资料。请打开已有工作站，或选择一个空目录。";
inline const std::string noteBodyInvalid = "笔记内容不能为空，且不超过 256 KB。";
inline const std::string noteTooLarge = "包含标题的完整笔记不能超过 256 KB。";
// A workstation folder (or one of its parents) that does not exist, as on a disk not plugged in.
inline std::string workstationMissing(const std::string& root) {
    return "找不到工作站目录：" + root + "。如果它在移动硬盘或网络位置上，请先连接。";
}
inline const std::string notAWorkstation = "该目录不是工作站：缺少 station.json。";
inline const std::string knowledgeUnreadable = "知识库目录无法读取。";
// A system library loaded when first needed (libcurl, libsecret) that cannot be loaded, or
// lacks a function (another version).
inline std::string libraryMissing(const std::string& soname, const std::string& package) {
    return "缺少系统库 " + soname + "，请安装或更新 " + package + " 后重试。";
}
inline const std::string knowledgePartlyUnreadable = "部分知识目录无法读取，索引未更新。";
inline const std::string documentOutside = "来源不在本工作站知识库内。";
inline const std::string lockUnopenable = "无法锁定工作站。";
inline const std::string lockHeld = "该工作站已有后台服务在运行。";
inline const std::string heartbeatOtherStation = "后台服务身份不匹配。";
inline const std::string stateUnwritable = "工作站状态写入失败。";
inline const std::string diagnosticsInsideStation = "诊断文件不能保存在工作站数据目录内。";

}  // namespace ostrak::message
