#include "qt/component/control_base.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace ubin::component {

namespace {

std::atomic<int> g_liveInstances{0};

} // namespace

std::string FormatMemberId(MemberId id)
{
    if (id < 0) return std::to_string(id);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
    return text;
}

ControlBase::ControlBase(const ClassInfo& info) : info_(info) { ++g_liveInstances; }

ControlBase::~ControlBase()
{
    delete face_.data();
    --g_liveInstances;
}

int ControlBase::LiveInstances() { return g_liveInstances.load(); }

Result<Value> ControlBase::Invoke(MemberId id, InvokeKind kind, std::span<Value> arguments)
{
    const MemberInfo* member = info_.FindMember(id);
    if (!member)
        return Status(kErrorMemberNotFound,
                      info_.className + " has no member of id " + FormatMemberId(id));
    try {
        return Dispatch(*member, kind, arguments);
    } catch (const std::exception& e) {
        return Status(kErrorInMember, info_.className + "." + member->name + ": " + e.what());
    } catch (...) {
        return Status(kErrorInMember, info_.className + "." + member->name + ": unknown error");
    }
}

Result<Value> ControlBase::Dispatch(const MemberInfo& member, InvokeKind kind, std::span<Value> arguments)
{
    const std::string where = info_.className + "." + member.name;
    if (!member.Supports(kind))
        return Status(kErrorNotSupported, where + " cannot be called as " + InvokeKindName(kind));

    std::size_t expected = 0;
    if (kind == InvokeKind::Method) expected = member.arguments.size();
    if (kind == InvokeKind::PropertyLet) expected = 1;
    if (arguments.size() != expected)
        return Status(kErrorArgumentCount, where + " takes " + std::to_string(expected) + " argument(s), not " +
                                               std::to_string(arguments.size()));

    auto fail = [&](Status s) {
        if (s.message().empty()) s = Status(s.code(), where + ": " + ResultCodeText(s.code()));
        return s;
    };
    auto convertResult = [&](Result<Value> r) -> Result<Value> {
        if (!r) return fail(r.status());
        if (member.type == ValueType::Empty) return Value();
        Result<Value> converted = Coerce(*r, member.type);
        if (!converted) return Status(kErrorInMember, where + " answered " + converted.message());
        return converted;
    };

    switch (kind) {
    case InvokeKind::Method: {
        const auto it = methods_.find(member.id);
        if (it == methods_.end()) return Status(kErrorNotSupported, where + " is not implemented");
        std::vector<Value> converted;
        converted.reserve(arguments.size());
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            Result<Value> c = Coerce(arguments[i], member.arguments[i].type);
            if (!c) return Status(kErrorTypeMismatch, where + ", argument " + member.arguments[i].name + ": " + c.message());
            converted.push_back(std::move(*c));
        }
        Result<Value> r = it->second(converted);
        for (std::size_t i = 0; i < arguments.size(); ++i)
            if (member.arguments[i].byReference) arguments[i] = converted[i];
        return convertResult(std::move(r));
    }
    case InvokeKind::PropertyGet: {
        const auto it = gets_.find(member.id);
        if (it == gets_.end()) return Status(kErrorNotSupported, where + " cannot be read");
        return convertResult(it->second());
    }
    case InvokeKind::PropertyLet: {
        const auto it = lets_.find(member.id);
        if (it == lets_.end()) return Status(kErrorNotSupported, where + " cannot be set");
        Result<Value> c = Coerce(arguments[0], member.type);
        if (!c) return Status(kErrorTypeMismatch, where + ": " + c.message());
        if (Status s = it->second(*c); !s.ok()) return fail(s);
        return Value();
    }
    }
    return Status(kErrorNotSupported, where + ": unknown kind of call");
}

int ControlBase::Advise(EventSink* sink)
{
    if (!sink) return 0;
    const int cookie = nextCookie_++;
    sinks_.emplace_back(cookie, sink);
    return cookie;
}

bool ControlBase::Unadvise(int cookie)
{
    const auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; });
    if (it == sinks_.end()) return false;
    sinks_.erase(it);
    return true;
}

void ControlBase::NotifyPropertyChanged(std::u16string_view name)
{
    if (site_) site_->PropertyChanged(name);
}

Status ControlBase::FireEvent(MemberId event, std::span<const Value> arguments)
{
    const EventInfo* info = info_.FindEvent(event);
    if (!info) return Status(kErrorMemberNotFound, info_.className + " has no event of id " + FormatMemberId(event));
    if (arguments.size() != info->arguments.size())
        return Status(kErrorArgumentCount, info_.className + "." + info->name + " takes " +
                                               std::to_string(info->arguments.size()) + " argument(s)");
    // A snapshot, so that sinks may advise and unadvise while the event runs.
    const auto snapshot = sinks_;
    for (const auto& advised : snapshot) {
        const bool stillThere =
            std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == advised.first; });
        if (stillThere) advised.second->OnEvent(event, arguments);
    }
    return Status::Ok();
}

} // namespace ubin::component
