#pragma once
// The UbinBangou control: the search of the Marubeta window on a face of its own, with the
// found address offered as properties, a postal-code lookup by method call, and the event
// ClickDisp after every displayed result.
#include "sorelto/thread_shared.h"
#include "sorelto/ubin_bangou_ids.h"
#include "qt/component/control_base.h"
#include "qt/widgets/qt_face.h"
#include "form/search.h"

#include <QObject>

#include <array>
#include <functional>
#include <memory>

namespace Ui {
class UbinBangouFace;
}

namespace ubin::control {

// The class description the library registers.
const component::ClassInfo& UbinBangouClass();

class UbinBangou;

// The face moves the focus only when the host's window can take it.
class ControlFace : public widgets::QtSearchFace {
public:
    ControlFace(QWidget* form, const UbinBangou& control) : QtSearchFace(form), control_(control) {}
    void SetFocus(std::string_view element) override;

private:
    const UbinBangou& control_;
};

class UbinBangou : public component::ControlBase, private QObject {
public:
    UbinBangou();
    ~UbinBangou() override;

    // Settings, then the shared directory state, then mode 1 and an empty search. A missing
    // settings file or directory file fails the creation with a message naming it.
    component::Status Initialize() override;
    component::Status InitProperties() override;
    component::Status ReadProperties(const component::PropertyBag& bag) override;
    component::Status WriteProperties(component::PropertyBag& bag) override;

    bool CanTakeFocus() const { return site() && site()->CanTakeFocus(); }

private:
    void BindMembers();
    // After a result is on display: ClickDisp, then the automatic copy when AutoClip is on.
    void AfterDisplay();
    void ConnectEvents();
    // Runs a face event: a failure cannot reach any caller, so the user is told in a box that
    // does not wait (the host goes on); a folder rebuilt meanwhile is taken up first.
    void Guard(const std::function<void()>& handler);
    // A folder rebuilt since the last lookup: the thread opens the new build, this control's
    // candidates and lists from the old one go.
    void TakeUpBuild();

    // The control's settings load into the instance and the thread's shared state.
    component::Status LoadSettings();
    component::Status SaveSettings();

    void SetBackColour(std::uint32_t colour);
    void SetOptionColour(int index, std::uint32_t colour);
    void SetResultText(std::string_view element, const std::u16string& text);
    // The face's size in twips, as the host keeps it.
    QSize SizeInTwips() const;

    std::unique_ptr<Ui::UbinBangouFace> ui_;
    QWidget* face_ = nullptr;
    ThreadShared& shared_;
    std::unique_ptr<ControlFace> searchFace_;
    std::unique_ptr<Search> search_;
    std::uint64_t build_ = 0; // the thread's build the lists and candidates were made from

    // The instance's copy of the settings values the control never changes.
    std::u16string reserved1_, reserved2_;
    std::int16_t reserved3_ = 0, windowLeft_ = 0, windowTop_ = 0;

    std::uint32_t backColour_ = kDesignBackColour;
    std::array<std::uint32_t, 5> optionColours_{};
    std::uint32_t foreColour_ = 0;
    float sWidth_ = kDesignWidthTwips;
    float sHeight_ = kDesignHeightTwips;
};

} // namespace ubin::control
