#pragma once
// What a control library says about each class it serves, and what the class registry keeps:
// the type library, the class and its program identifier, the default interface with its
// member table and the event interface with its events.
#include "qt/component/value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ubin::component {

using MemberId = std::int32_t;

// The kinds of call a member supports (a property may support both get and let) and the kind
// of one call through the dispatch entry point.
enum class InvokeKind : int {
    Method = 1,
    PropertyGet = 2,
    PropertyLet = 4,
};

// "method", "get", "let".
const char* InvokeKindName(InvokeKind kind);

struct ArgumentInfo {
    std::string name;
    ValueType type = ValueType::Empty;
    bool byReference = false; // the control may change the caller's value
};

struct MemberInfo {
    std::string name;
    MemberId id = 0;
    int kinds = 0;                       // InvokeKind bits
    ValueType type = ValueType::Empty;   // a property's type, or a method's result (Empty: none)
    std::vector<ArgumentInfo> arguments; // methods only
    std::string description;             // UTF-8, may be empty

    bool Supports(InvokeKind kind) const { return (kinds & static_cast<int>(kind)) != 0; }
};

struct EventInfo {
    std::string name;
    MemberId id = 0;
    std::vector<ArgumentInfo> arguments;
    std::string description;
};

struct InterfaceInfo {
    std::string id;   // identifiers are texts of the form {8-4-4-4-12 hexadecimal digits}
    std::string name;
};

struct ClassInfo {
    std::string typeLibraryId;
    std::string typeLibraryName;
    std::string typeLibraryDescription;
    std::string classId;
    std::string className;
    std::string programId;               // "Library.Class"
    InterfaceInfo defaultInterface;      // the dispatch interface that carries `members`
    InterfaceInfo eventInterface;        // the interface that carries `events`
    std::vector<MemberInfo> members;     // in interface order
    std::vector<EventInfo> events;

    // The member of that id, or null.
    const MemberInfo* FindMember(MemberId id) const;
    // The member of that name compared without regard to case, or null.
    const MemberInfo* FindMember(std::string_view name) const;
    const EventInfo* FindEvent(MemberId id) const;
    const EventInfo* FindEvent(std::string_view name) const;
};

bool operator==(const ArgumentInfo&, const ArgumentInfo&);
bool operator==(const MemberInfo&, const MemberInfo&);
bool operator==(const EventInfo&, const EventInfo&);
bool operator==(const InterfaceInfo&, const InterfaceInfo&);
bool operator==(const ClassInfo&, const ClassInfo&);

// Whether an identifier has the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
bool IsWellFormedId(std::string_view id);
// Identifiers compare without regard to the case of their hexadecimal digits.
bool SameId(std::string_view a, std::string_view b);

// Checks what a library must get right before it registers: the identifiers well formed, the
// names and program identifier present, member ids and names unique, every member with at
// least one kind, arguments only on methods, event ids and names unique.
Status Validate(const ClassInfo& info);

} // namespace ubin::component
