#pragma once
// The objects a control library hands to a host: the class factory, the control instance with
// its one dispatch entry point, and the two interfaces the host implements for it: the event
// sink and the container site. Host and library are built with the same compiler and Qt; the
// objects are used only on the thread that created the instance.
#include "qt/component/class_info.h"
#include "qt/component/property_bag.h"
#include "qt/component/saved_form.h" // Extent

#include <memory>
#include <span>
#include <string_view>

class QWidget;

namespace ubin::component {

// Receives a control's events. Called synchronously on the control's thread, inside the
// control's own work: the control goes on only when OnEvent returns. A sink may call the
// control again (a nested call runs to its end first), but must not destroy it.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void OnEvent(MemberId event, std::span<const Value> arguments) = 0;
};

// What the control may ask of its container. The host implements it for each instance.
class ControlSite {
public:
    virtual ~ControlSite() = default;
    // A property changed through the control's interface (after the new value is in place);
    // a designing host marks its document changed.
    virtual void PropertyChanged(std::u16string_view name) = 0;
    // The control's size as the container keeps it, in hundredths of a millimetre.
    virtual Extent GetExtent() const = 0;
    // The control asks for another size; the container resizes it and saves the new extent.
    virtual void SetExtent(Extent extent) = 0;
    // Whether the control's window can take the keyboard focus now (the host's window is shown
    // and enabled). A control moves the focus only when this is true.
    virtual bool CanTakeFocus() const = 0;
};

class Control {
public:
    virtual ~Control() = default; // deletes the face at once (never later)

    virtual const ClassInfo& classInfo() const = 0;

    // The control's face. It stays owned by the control; the host may reparent, move and
    // resize it, and must destroy the control (not the face) before the face's parent.
    virtual QWidget* widget() = 0;

    // Called once, before InitProperties or ReadProperties; null detaches the site.
    virtual void SetSite(ControlSite* site) = 0;

    // Exactly one of these runs after SetSite: a new instance, or one with saved properties.
    virtual Status InitProperties() = 0;
    virtual Status ReadProperties(const PropertyBag& bag) = 0;
    // Writes the saved properties into `bag` (with their defaults, so that defaults are left out).
    virtual Status WriteProperties(PropertyBag& bag) = 0;

    // The dispatch entry point: call member `id` as `kind` with `arguments` (for a let, the one
    // new value). Arguments passed by reference may be changed in place. Returns the result
    // (Empty for a let or a method without result) or an error status with its message; it
    // never throws.
    virtual Result<Value> Invoke(MemberId id, InvokeKind kind, std::span<Value> arguments) = 0;

    // Event sinks, called in the order they were connected. Advise returns a cookie (never 0)
    // for Unadvise. A sink must stay alive until it is unadvised or the control is destroyed.
    virtual int Advise(EventSink* sink) = 0;
    virtual bool Unadvise(int cookie) = 0;
};

// Hands out instances of one class. Static in the library; never released.
class ClassFactory {
public:
    virtual const ClassInfo& classInfo() const = 0;
    // A new, initialised instance (no site, no properties yet) or the error of its creation.
    virtual Result<std::unique_ptr<Control>> CreateInstance() = 0;

protected:
    ~ClassFactory() = default;
};

} // namespace ubin::component
