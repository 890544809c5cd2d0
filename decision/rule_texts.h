// The log lines with which the rules and the rollout test give their verdicts on an update
// element. Besides the diagnostic log, the release tool's explanation of a decision
// recognises them (it words each in its own way), so each text lives here once.
#pragma once

namespace decision::texts {

// Element not enabled, or its package name is not a plain file name: name.
inline constexpr char16_t kInvalid[] = u"%s节点无效";
// Player older than clientminver: client path, its version, clientminver, name.
inline constexpr char16_t kBelowMinimum[] = u"%s的版本号%s小于%s，%s节点无效";
// Player newer than clientmaxver: client path, its version, clientmaxver, name.
inline constexpr char16_t kAboveMaximum[] = u"%s的版本号%s大于%s，%s节点无效";
// A partnerid piece occurs in the channel: partnerid, channel, name.
inline constexpr char16_t kChannelExcluded[] = u"xml渠道id:%s命中%s，此渠道不升级, %s节点无效";
// Invalid or outside the regions: name.
inline constexpr char16_t kInvalidOrRegion[] = u"updatenode节点%s无效或者区域无效清除此节点信息";
// Local file as new as the update or newer: full path, its version, ver.
inline constexpr char16_t kFileNotOlder[] = u"本地文件%s版本号%s大于等于升级的版本%s";
// Local file older than minver: full path, its version, minver.
inline constexpr char16_t kFileBelowMinimum[] = u"本地文件%s版本号%s小于%s";
// Local file newer than maxver: full path, its version, maxver.
inline constexpr char16_t kFileAboveMaximum[] = u"本地文件%s版本号%s大于%s";
// Rollout test: client identifier, percentage, seed; then inside or outside.
inline constexpr char16_t kRolloutTest[] =
    u"判断是否符合灰度控制，本机使用的clientid：%s, xml中控制的比例值为：%d，xml中种子为：%d";
inline constexpr char16_t kInsideRollout[] = u"落在灰度内";
inline constexpr char16_t kOutsideRollout[] = u"不在灰度内";

}  // namespace decision::texts
