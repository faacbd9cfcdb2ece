// User-visible texts of the launcher, as GBK (code page 936) narrow strings.
// The UTF-8 reading of each text stands in the comment above it.
#pragma once

namespace texts {

// 校验文件中
extern const char* const kStageCheck;
// 正在下载资源
extern const char* const kStageDownload;
// 正在清理资源
extern const char* const kStageCleanRes;
// 正在解压资源
extern const char* const kStageUnzip;
// 正在启动应用
extern const char* const kStageLaunch;
// 启动应用中....
extern const char* const kLaunchingNow;
// 发生错误
extern const char* const kCaptionError;
// \n点击重试
extern const char* const kClickToRetry;
// 文件校验不一致，点击重新下载
extern const char* const kDigestMismatch;
extern const char* const kSha256Mismatch;
// 解压缩失败
extern const char* const kUnzipCannotStart;
// 解压文件失败！ 1.如果游戏打开，尝试关闭游戏后重试\n 2.删除文件夹
extern const char* const kUnzipFailedHead;
// 后重试
extern const char* const kUnzipFailedTail;
// 文件不存在
extern const char* const kFileMissing;
// 启动游戏失败,
extern const char* const kGameStartFailed;
// 校验文件时错误\n
extern const char* const kCheckFileError;
// 请求超时，点击重试？
extern const char* const kRequestTimeoutText;
// 请求超时
extern const char* const kRequestTimeoutCaption;
// 错误
extern const char* const kRecordErrorCaption;
// 访问文件
extern const char* const kRecordErrorHead;
// 错误，请关闭其他占用该文件的程序后再重试
extern const char* const kRecordErrorTail;
// 宋体
extern const char* const kFontFamily;
// 资源id=%d
extern const char* const kResourceIdFormat;
// 图片加载出错
extern const char* const kImageLoadError;
// 九宫格图片加载出错
extern const char* const kSlice9LoadError;
// 资源id=
extern const char* const kResourceIdPrefix;
// 抵制不良游戏，拒绝盗版游戏，注意自我保护，谨防受骗上当
extern const char* const kNoticeLine1;
// 适度游戏益脑，沉迷游戏伤身，合理安排时间，享受健康生活
extern const char* const kNoticeLine2;
// 下载中....
extern const char* const kDownloading;
// 磁盘空间不足，需要
extern const char* const kSpaceShortHead;
// ，可用
extern const char* const kSpaceAvailable;
// \n位置：
extern const char* const kSpaceWhere;
// \n请清理磁盘后点击重试
extern const char* const kSpaceShortTail;

// 重试
extern const char* const kButtonRetry;
// 取消
extern const char* const kButtonCancel;
// 确定
extern const char* const kButtonOk;

}  // namespace texts
