#include "qt/component/host.h"

#include "qt/widgets/twips.h" // LogicalDpi

#include <QResizeEvent>

#include <cmath>

namespace ubin::component {

namespace {

int Round(double v) { return static_cast<int>(std::nearbyint(v)); } // halves to even

} // namespace

QSize ExtentToPixels(Extent extent, const QWidget* widget)
{
    const widgets::Dpi dpi = widgets::LogicalDpi(widget);
    return {Round(extent.width * dpi.x / 2540.0), Round(extent.height * dpi.y / 2540.0)};
}

Extent PixelsToExtent(QSize pixels, const QWidget* widget)
{
    const widgets::Dpi dpi = widgets::LogicalDpi(widget);
    return {Round(pixels.width() * 2540.0 / dpi.x), Round(pixels.height() * 2540.0 / dpi.y)};
}

// ---------------------------------------------------------------------------------------------

Result<RegisteredClass> ControlLoader::Resolve(std::string_view programOrClassId) const
{
    Result<ClassRegistry> registry = ClassRegistry::Load(registryPath_);
    if (!registry) return registry.status();
    const RegisteredClass* entry = registry->Resolve(programOrClassId);
    if (!entry)
        return Status(kErrorNotRegistered, "class " + std::string(programOrClassId) + " is not registered in " +
                                               registryPath_.string());
    return *entry;
}

Result<std::shared_ptr<ControlLibrary>> ControlLoader::LibraryFor(const RegisteredClass& entry)
{
    if (auto lib = libraries_[entry.libraryPath].lock()) return lib;
    Result<std::shared_ptr<ControlLibrary>> lib = ControlLibrary::Load(entry.libraryPath);
    if (!lib) return Status(lib.code(), "class " + entry.info.programId + ": " + lib.message());
    libraries_[entry.libraryPath] = *lib;
    return lib;
}

Result<std::unique_ptr<HostedControl>> ControlLoader::Create(std::string_view programOrClassId, QWidget* parent,
                                                             const SavedControl* saved)
{
    Result<RegisteredClass> entry = Resolve(programOrClassId);
    if (!entry) return entry.status();
    Result<std::shared_ptr<ControlLibrary>> library = LibraryFor(*entry);
    if (!library) return library.status();
    Result<ClassFactory*> factory = (*library)->GetClassObject(entry->info.classId);
    if (!factory) return factory.status();
    Result<std::unique_ptr<Control>> control = (*factory)->CreateInstance();
    if (!control) return control.status();

    std::unique_ptr<HostedControl> hosted(
        new HostedControl(*library, std::move(*control), entry->info.programId, parent));
    Status s;
    if (saved) {
        hosted->setExtent(saved->extent);
        s = hosted->control_->ReadProperties(saved->properties);
    } else {
        QWidget* face = hosted->face();
        hosted->setExtent(PixelsToExtent(face ? face->size() : QSize(), hosted.get()));
        s = hosted->control_->InitProperties();
    }
    if (!s.ok())
        return Status(s.code(), entry->info.programId + (saved ? ": loading the saved properties failed: " : ": ") +
                                    s.message());
    return hosted;
}

// ---------------------------------------------------------------------------------------------

class HostedControl::Sink final : public EventSink {
public:
    explicit Sink(EventHandler handler) : handler_(std::move(handler)) {}
    void OnEvent(MemberId event, std::span<const Value> arguments) override { handler_(event, arguments); }
    int cookie = 0;

private:
    EventHandler handler_;
};

HostedControl::HostedControl(std::shared_ptr<ControlLibrary> library, std::unique_ptr<Control> control,
                             std::string programId, QWidget* parent)
    : QWidget(parent), library_(std::move(library)), control_(std::move(control)), programId_(std::move(programId))
{
    setObjectName(QString::fromStdString(control_->classInfo().className));
    if (QWidget* f = face()) {
        f->setParent(this);
        f->move(0, 0);
        f->show();
    }
    control_->SetSite(this);
}

HostedControl::~HostedControl()
{
    for (auto& [cookie, sink] : sinks_) control_->Unadvise(cookie);
    control_->SetSite(nullptr);
    control_.reset(); // the face goes with it, while the library is still loaded
    library_.reset();
}

Result<Value> HostedControl::Invoke(MemberId id, InvokeKind kind, std::span<Value> arguments)
{
    try {
        return control_->Invoke(id, kind, arguments);
    } catch (const std::exception& e) {
        return Status(kErrorInMember, e.what());
    }
}

Result<Value> HostedControl::Call(MemberId id, std::vector<Value> arguments)
{
    return Invoke(id, InvokeKind::Method, arguments);
}

Result<Value> HostedControl::Get(MemberId id) { return Invoke(id, InvokeKind::PropertyGet, {}); }

Status HostedControl::Let(MemberId id, Value value)
{
    Result<Value> r = Invoke(id, InvokeKind::PropertyLet, std::span<Value>(&value, 1));
    return r ? Status::Ok() : r.status();
}

std::optional<MemberId> HostedControl::IdOf(std::string_view memberName) const
{
    const MemberInfo* m = classInfo().FindMember(memberName);
    return m ? std::optional<MemberId>(m->id) : std::nullopt;
}

int HostedControl::Connect(EventHandler handler)
{
    auto sink = std::make_unique<Sink>(std::move(handler));
    const int cookie = control_->Advise(sink.get());
    if (cookie == 0) return 0;
    sinks_[cookie] = std::move(sink);
    return cookie;
}

bool HostedControl::Disconnect(int cookie)
{
    const auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return false;
    control_->Unadvise(cookie);
    sinks_.erase(it);
    return true;
}

void HostedControl::setExtent(Extent extent)
{
    const bool changed = !(extent == extent_);
    extent_ = extent;
    resize(ExtentToPixels(extent, this));
    if (QWidget* f = face()) f->resize(size());
    if (changed) emit extentChanged();
}

Result<SavedControl> HostedControl::Save(const std::string& name)
{
    SavedControl saved;
    saved.name = name;
    saved.programId = programId_;
    saved.classId = classInfo().classId;
    saved.extent = extent_;
    if (Status s = control_->WriteProperties(saved.properties); !s.ok())
        return Status(s.code(), programId_ + ": saving the properties failed: " + s.message());
    return saved;
}

void HostedControl::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (QWidget* f = face()) f->resize(event->size());
    // A size the host gave by other means (a layout) becomes the extent that is saved.
    if (event->size() != ExtentToPixels(extent_, this)) {
        extent_ = PixelsToExtent(event->size(), this);
        emit extentChanged();
    }
}

void HostedControl::PropertyChanged(std::u16string_view name)
{
    emit propertyChanged(QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())));
}

bool HostedControl::CanTakeFocus() const { return isVisible() && isEnabled(); }

} // namespace ubin::component
