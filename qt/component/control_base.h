#pragma once
// What a control class builds on: the member table checks of the dispatch entry point (the
// member exists, supports the kind, gets the right number of arguments, each converted to its
// declared type), handlers bound by member id, event sinks and the site, the face, and the
// library's count of live instances that DllCanUnloadNow answers from.
#include "qt/component/control.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <vector>

namespace ubin::component {

class ControlBase : public Control {
public:
    using MethodHandler = std::function<Result<Value>(std::span<Value> arguments)>;
    using GetHandler = std::function<Result<Value>()>;
    using LetHandler = std::function<Status(const Value& value)>;

    explicit ControlBase(const ClassInfo& info);
    ~ControlBase() override;
    ControlBase(const ControlBase&) = delete;
    ControlBase& operator=(const ControlBase&) = delete;

    // Runs once after construction, before the instance is handed out; a failure ends the
    // creation with that error (for example a missing file the control needs).
    virtual Status Initialize() { return Status::Ok(); }

    const ClassInfo& classInfo() const override { return info_; }
    QWidget* widget() override { return face_; }
    void SetSite(ControlSite* site) override { site_ = site; }
    Result<Value> Invoke(MemberId id, InvokeKind kind, std::span<Value> arguments) override;
    int Advise(EventSink* sink) override;
    bool Unadvise(int cookie) override;

    // Defaults: InitProperties and ReadProperties do nothing, WriteProperties writes nothing.
    Status InitProperties() override { return Status::Ok(); }
    Status ReadProperties(const PropertyBag&) override { return Status::Ok(); }
    Status WriteProperties(PropertyBag&) override { return Status::Ok(); }

    // Instances of classes built on ControlBase alive in this library.
    static int LiveInstances();

protected:
    // The face; owned from now on and deleted with the control.
    void SetFace(QWidget* face) { face_ = face; }
    ControlSite* site() const { return site_; }

    // Handlers by member id. The arguments arrive converted to the member table's types; a
    // method's by-reference arguments are copied back to the caller afterwards. A result is
    // converted to the member's type. Exceptions become kErrorInMember with their message.
    void BindMethod(MemberId id, MethodHandler handler) { methods_[id] = std::move(handler); }
    void BindGet(MemberId id, GetHandler handler) { gets_[id] = std::move(handler); }
    void BindLet(MemberId id, LetHandler handler) { lets_[id] = std::move(handler); }

    // Tells the site that a property changed (nothing without a site).
    void NotifyPropertyChanged(std::u16string_view name);

    // Raises an event of the event interface: every sink runs now, in order, before this
    // returns. A sink unadvised by an earlier one is skipped. Unknown event ids and wrong
    // argument counts are refused.
    Status FireEvent(MemberId event, std::span<const Value> arguments = {});

private:
    Result<Value> Dispatch(const MemberInfo& member, InvokeKind kind, std::span<Value> arguments);

    const ClassInfo& info_;
    QPointer<QWidget> face_;
    ControlSite* site_ = nullptr;
    std::map<MemberId, MethodHandler> methods_;
    std::map<MemberId, GetHandler> gets_;
    std::map<MemberId, LetHandler> lets_;
    std::vector<std::pair<int, EventSink*>> sinks_;
    int nextCookie_ = 1;
};

// "0x6003002D" for a member id at or above zero, "-552" below.
std::string FormatMemberId(MemberId id);

} // namespace ubin::component
