#pragma once
// A host of the UbinBangou control in temporary folders: its settings folder stands for the
// control's fixed settings place ($XDG_CONFIG_HOME/marubeta/), the current folder is a folder
// of its own, and the control is created through the class registry as a host creates it.
#include "sorelto/ubin_bangou_ids.h"
#include "qt/component/host.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QClipboard>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace ubin::test {

// Clip flags: AutoClip, postal code, address 1, address 2, kana, city code, prefecture, 7, 8.
inline constexpr char kNoAutoClip[] = "0,1,1,1,0,0,0,7,8";
inline constexpr char kAutoClip[] = "1,1,1,1,0,0,0,7,8";

class SoreltoHost {
public:
    SoreltoHost()
    {
        previousConfig_ = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
        hadConfig_ = std::getenv("XDG_CONFIG_HOME") != nullptr;
        previousFolder_ = std::filesystem::current_path();
        std::filesystem::create_directories(ConfigFolder());
        std::filesystem::create_directories(CurrentFolder());
        ::setenv("XDG_CONFIG_HOME", (folders / "config").c_str(), 1);
        std::filesystem::current_path(CurrentFolder());
    }
    ~SoreltoHost()
    {
        std::filesystem::current_path(previousFolder_);
        if (hadConfig_) ::setenv("XDG_CONFIG_HOME", previousConfig_.c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }
    SoreltoHost(const SoreltoHost&) = delete;
    SoreltoHost& operator=(const SoreltoHost&) = delete;

    // The control's own settings place and the current folder.
    std::filesystem::path ConfigFolder() const { return folders / "config/marubeta"; }
    std::filesystem::path CurrentFolder() const { return folders / "cur"; }

    static std::string SettingsLine(const std::string& dataFolder, const std::string& flags,
                                    const std::string& position = "1200,900")
    {
        return "\"r1\",\"r2\",\"" + dataFolder + "\",7," + position + "," + flags + ",\"END\"\r\n";
    }

    // Settings on the sample directory, in the current folder (the second place the control
    // looks) unless told otherwise.
    void WriteSettings(const std::string& flags = kNoAutoClip, const std::string& dataFolder = UBIN_SAMPLE_DIR)
    {
        WriteBytes(CurrentFolder() / "ubscon.def", SettingsLine(dataFolder, flags));
    }

    component::Result<std::unique_ptr<component::HostedControl>> TryCreate(const component::SavedControl* saved = nullptr)
    {
        return loader.Create(control::kProgramId, &window, saved);
    }

    std::unique_ptr<component::HostedControl> Create(const component::SavedControl* saved = nullptr)
    {
        auto c = TryCreate(saved);
        EXPECT_TRUE(c.ok()) << c.message();
        return c ? std::move(*c) : nullptr;
    }

    TempDir folders;
    component::ControlLoader loader{UBIN_SORELTO_REGISTRY};
    QWidget window;

private:
    std::string previousConfig_;
    bool hadConfig_ = false;
    std::filesystem::path previousFolder_;
};

inline QString Text(component::HostedControl& c, std::int32_t member)
{
    component::Result<component::Value> v = c.Get(member);
    EXPECT_TRUE(v.ok()) << v.message();
    return v ? QString::fromStdU16String(v->text()) : QString();
}

// Ubin1 to Ubin6 joined by "|".
inline QString Results(component::HostedControl& c)
{
    QStringList parts;
    for (std::int32_t id : {control::kUbin1, control::kUbin2, control::kUbin3, control::kUbin4, control::kUbin5,
                            control::kUbin6})
        parts << Text(c, id);
    return parts.join(u'|');
}

inline component::Status Lookup(component::HostedControl& c, const std::u16string& code)
{
    component::Result<component::Value> r = c.Call(control::kUbinGetOcx, {component::Value(code)});
    return r ? component::Status::Ok() : r.status();
}

} // namespace ubin::test
