#include "qt/component/class_info.h"

#include <QString>

#include <cctype>
#include <set>

namespace ubin::component {

const char* InvokeKindName(InvokeKind kind)
{
    switch (kind) {
    case InvokeKind::Method: return "method";
    case InvokeKind::PropertyGet: return "get";
    case InvokeKind::PropertyLet: return "let";
    }
    return "?";
}

namespace {

bool SameName(std::string_view a, std::string_view b)
{
    return QString::compare(QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size())),
                            QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())), Qt::CaseInsensitive) == 0;
}

QString Folded(const std::string& name) { return QString::fromStdString(name).toCaseFolded(); }

} // namespace

const MemberInfo* ClassInfo::FindMember(MemberId id) const
{
    for (const auto& m : members)
        if (m.id == id) return &m;
    return nullptr;
}

const MemberInfo* ClassInfo::FindMember(std::string_view name) const
{
    for (const auto& m : members)
        if (SameName(m.name, name)) return &m;
    return nullptr;
}

const EventInfo* ClassInfo::FindEvent(MemberId id) const
{
    for (const auto& e : events)
        if (e.id == id) return &e;
    return nullptr;
}

const EventInfo* ClassInfo::FindEvent(std::string_view name) const
{
    for (const auto& e : events)
        if (SameName(e.name, name)) return &e;
    return nullptr;
}

bool operator==(const ArgumentInfo& a, const ArgumentInfo& b)
{
    return a.name == b.name && a.type == b.type && a.byReference == b.byReference;
}

bool operator==(const MemberInfo& a, const MemberInfo& b)
{
    return a.name == b.name && a.id == b.id && a.kinds == b.kinds && a.type == b.type && a.arguments == b.arguments &&
           a.description == b.description;
}

bool operator==(const EventInfo& a, const EventInfo& b)
{
    return a.name == b.name && a.id == b.id && a.arguments == b.arguments && a.description == b.description;
}

bool operator==(const InterfaceInfo& a, const InterfaceInfo& b) { return a.id == b.id && a.name == b.name; }

bool operator==(const ClassInfo& a, const ClassInfo& b)
{
    return a.typeLibraryId == b.typeLibraryId && a.typeLibraryName == b.typeLibraryName &&
           a.typeLibraryDescription == b.typeLibraryDescription && a.classId == b.classId &&
           a.className == b.className && a.programId == b.programId && a.defaultInterface == b.defaultInterface &&
           a.eventInterface == b.eventInterface && a.members == b.members && a.events == b.events;
}

bool IsWellFormedId(std::string_view id)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (id.size() != 38 || id.front() != '{' || id.back() != '}') return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i]))) return false;
    }
    return true;
}

bool SameId(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

Status Validate(const ClassInfo& info)
{
    auto fail = [&](const std::string& what) {
        return Status(kErrorInvalidArgument, "class " + (info.className.empty() ? info.classId : info.className) +
                                                 ": " + what);
    };
    for (const auto& [id, what] : {std::pair{&info.typeLibraryId, "type library"}, std::pair{&info.classId, "class"},
                                   std::pair{&info.defaultInterface.id, "default interface"},
                                   std::pair{&info.eventInterface.id, "event interface"}}) {
        if (!IsWellFormedId(*id)) return fail(std::string("the ") + what + " identifier \"" + *id + "\" is not well formed");
    }
    if (info.typeLibraryName.empty() || info.className.empty() || info.defaultInterface.name.empty() ||
        info.eventInterface.name.empty())
        return fail("a name is missing");
    const auto dot = info.programId.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == info.programId.size())
        return fail("the program identifier \"" + info.programId + "\" is not of the form Library.Class");

    std::set<MemberId> ids;
    std::set<QString> names;
    for (const auto& m : info.members) {
        if (m.name.empty()) return fail("a member has no name");
        if (!ids.insert(m.id).second) return fail("member id " + std::to_string(m.id) + " is used twice");
        if (!names.insert(Folded(m.name)).second) return fail("member name " + m.name + " is used twice");
        if ((m.kinds & 7) == 0 || (m.kinds & ~7) != 0) return fail("member " + m.name + " has no valid kind");
        if (!m.arguments.empty() && !m.Supports(InvokeKind::Method))
            return fail("member " + m.name + " has arguments but is no method");
        if ((m.Supports(InvokeKind::PropertyGet) || m.Supports(InvokeKind::PropertyLet)) && m.type == ValueType::Empty)
            return fail("property " + m.name + " has no type");
    }
    ids.clear();
    names.clear();
    for (const auto& e : info.events) {
        if (e.name.empty()) return fail("an event has no name");
        if (!ids.insert(e.id).second) return fail("event id " + std::to_string(e.id) + " is used twice");
        if (!names.insert(Folded(e.name)).second) return fail("event name " + e.name + " is used twice");
    }
    return Status::Ok();
}

} // namespace ubin::component
