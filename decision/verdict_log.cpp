#include "decision/verdict_log.h"

#include "app/log.h"

namespace decision {
namespace {

using Reason = RuleVerdict::Reason;

// The line of a rule that refused. The regions have none: the element's closing line says
// "invalid or outside the regions".
void logRefusal(const RuleVerdict& r, const std::u16string& name) {
    switch (r.reason) {
        case Reason::Passes:
        case Reason::Blacklisted:
        case Reason::NotWhitelisted: break;
        case Reason::Disabled:
        case Reason::NotPlainName: LOG(u"%s节点无效", name); break;
        case Reason::BelowMinimum:
            LOG(u"%s的版本号%s小于%s，%s节点无效", r.subject, r.actual, r.bound, name);
            break;
        case Reason::AboveMaximum:
            LOG(u"%s的版本号%s大于%s，%s节点无效", r.subject, r.actual, r.bound, name);
            break;
        case Reason::ChannelExcluded:
            LOG(u"xml渠道id:%s命中%s，此渠道不升级, %s节点无效", r.bound, r.actual, name);
            break;
        case Reason::NoSha256: LOG(u"%s has no sha256 of 64 hex digits", name); break;
        case Reason::NotFourNumbers: LOG(u"%s has no ver of four numbers: %s", name, r.actual); break;
        case Reason::Downgrade:
            LOG(u"installed version %s is newer than %s offered by %s: downgrade refused", r.actual, r.bound,
                name);
            break;
        case Reason::FileNotOlder:
            LOG(u"本地文件%s版本号%s大于等于升级的版本%s", r.subject, r.actual, r.bound);
            break;
        case Reason::FileBelowMinimum: LOG(u"本地文件%s版本号%s小于%s", r.subject, r.actual, r.bound); break;
        case Reason::FileAboveMaximum: LOG(u"本地文件%s版本号%s大于%s", r.subject, r.actual, r.bound); break;
    }
}

void logFile(const FileVerdict& v, const FileRecord& f, const std::u16string& name) {
    if (!v.rule.passes()) {
        logRefusal(v.rule, name);
        LOG(u"updatenode节点%s里file节点%s不满足升级条件删除当前file节点信息", name, f.name);
        return;
    }
    LOG(u"子节点路径：%s，使用的第%s个路径：%s，最终路径%s", f.subpath, f.path, v.folder, v.rule.subject);
    LOG(u"updatenode节点%s里file节点%s满足条件去升级", name, f.name);
}

void logPackage(const PackageVerdict& p, const UpdateRecord& u) {
    if (p.state != PackageVerdict::State::Absent) {
        LOG(u"需要下载的包%s已存在，做md5：%s校验", p.path, u.md5);
        LOG(p.state == PackageVerdict::State::Present ? u"校验成功" : u"校验失败，删除文件，下载安装包");
        return;
    }
    LOG(u"需要下载的包%s不存在，下载前做灰度判断", p.path);
    LOG(u"判断是否符合灰度控制，本机使用的clientid：%s, xml中控制的比例值为：%d，xml中种子为：%d", p.clientId,
        p.percent, p.seed);
    LOG(p.place.inside ? u"落在灰度内" : u"不在灰度内");
}

}  // namespace

void logVerdict(const ElementVerdict& v, const DocumentItem& item) {
    const UpdateRecord& u = item.update;
    if (v.validity.passes())
        LOG(u"xml版本区间%s--%s,渠道id:%s, %s节点有效", u.clientminver, u.clientmaxver, u.partnerid, u.name);
    logRefusal(v.validity, u.name);
    logRefusal(v.signedCheck, u.name);
    if (v.refusal()) {
        LOG(u"updatenode节点%s无效或者区域无效清除此节点信息", u.name);
        return;
    }
    for (size_t i = 0; i < v.files.size(); ++i) logFile(v.files[i], item.files[i], u.name);
    if (!v.applies()) {
        LOG(u"updatenode节点%s里所有file节点不满足升级条件删除当前updatenode节点信息", u.name);
        return;
    }
    if (v.package) logPackage(*v.package, u);
}

}  // namespace decision
