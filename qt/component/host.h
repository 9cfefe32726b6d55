#pragma once
// The host's side: create a control through the class registry and keep it on a window.
//
//     ControlLoader loader(registryPath);
//     auto control = loader.Create("Marubeta.UbinBangou", window, form.Find("UbinBangou1"));
//     if (!control) { report control.message(); }
//     (*control)->Connect([&](MemberId event, auto) { if (event == 1) RefreshResultLabels(); });
//     Result<Value> v = (*control)->Get(0x68030007);
//
// The HostedControl is the control's container site: a widget that holds the control's face,
// sized from the extent, and that hears the control's change notices.
#include "qt/component/control.h"
#include "qt/component/library.h"
#include "qt/component/registry.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ubin::component {

class HostedControl;

class ControlLoader {
public:
    explicit ControlLoader(std::filesystem::path registryPath) : registryPath_(std::move(registryPath)) {}

    const std::filesystem::path& registryPath() const { return registryPath_; }

    // Reads the registry (anew each time) and finds the class by program identifier or class
    // identifier; kErrorNotRegistered when it is not there.
    Result<RegisteredClass> Resolve(std::string_view programOrClassId) const;

    // Resolve, load the library (or reuse it while an instance of it lives), get the class
    // factory, create the instance, give it its site and then its saved properties (`saved`:
    // extent and bag, ReadProperties) or none (InitProperties, the extent from the face's
    // size). Any failure destroys the instance and returns the error.
    Result<std::unique_ptr<HostedControl>> Create(std::string_view programOrClassId, QWidget* parent = nullptr,
                                                  const SavedControl* saved = nullptr);

private:
    Result<std::shared_ptr<ControlLibrary>> LibraryFor(const RegisteredClass& entry);

    std::filesystem::path registryPath_;
    std::map<std::string, std::weak_ptr<ControlLibrary>> libraries_;
};

class HostedControl : public QWidget, private ControlSite {
    Q_OBJECT

public:
    using EventHandler = std::function<void(MemberId event, std::span<const Value> arguments)>;

    ~HostedControl() override; // destroys the instance, then lets go of the library

    const ClassInfo& classInfo() const { return control_->classInfo(); }
    const std::string& programId() const { return programId_; }
    Control& control() { return *control_; }
    QWidget* face() { return control_->widget(); }

    // The one dispatch entry point, and its three shapes.
    Result<Value> Invoke(MemberId id, InvokeKind kind, std::span<Value> arguments);
    Result<Value> Call(MemberId id, std::vector<Value> arguments = {});
    Result<Value> Get(MemberId id);
    Status Let(MemberId id, Value value);
    // The member id of a name (without regard to case) from the class's member table.
    std::optional<MemberId> IdOf(std::string_view memberName) const;

    // Event handlers run synchronously inside the control's work. Connect returns a cookie.
    int Connect(EventHandler handler);
    bool Disconnect(int cookie);

    // The size kept for saving, in hundredths of a millimetre; setting it resizes the widget.
    Extent extent() const { return extent_; }
    void setExtent(Extent extent);

    // The control's saved properties (WriteProperties into a new bag) with its extent.
    Result<SavedControl> Save(const std::string& name);

signals:
    // A change notice from the control, with the property's name.
    void propertyChanged(const QString& name);
    // The control asked for a new extent, or the host set one.
    void extentChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class ControlLoader;
    HostedControl(std::shared_ptr<ControlLibrary> library, std::unique_ptr<Control> control, std::string programId,
                  QWidget* parent);

    // ControlSite
    void PropertyChanged(std::u16string_view name) override;
    Extent GetExtent() const override { return extent_; }
    void SetExtent(Extent extent) override { setExtent(extent); }
    bool CanTakeFocus() const override;

    class Sink;

    std::shared_ptr<ControlLibrary> library_; // declared first: released last
    std::unique_ptr<Control> control_;
    std::string programId_;
    Extent extent_;
    std::map<int, std::unique_ptr<Sink>> sinks_;
};

// The widget size of an extent at the widget's resolution, and back (halves to even).
QSize ExtentToPixels(Extent extent, const QWidget* widget);
Extent PixelsToExtent(QSize pixels, const QWidget* widget);

} // namespace ubin::component
