#pragma once
// A search over a directory written into a temporary folder, on an in-memory face.
#include "base/cp932.h"
#include "base/text.h"
#include "directory/directory.h"
#include "form/memory_face.h"
#include "form/search.h"
#include "tests/search/hand_written.h"
#include "tests/support/mini_directory.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>

namespace ubin::test {

class Harness {
public:
    // Writes `mini` (when given) and starts up as the window does.
    explicit Harness(const MiniDirectory& mini);
    // Starts up on an existing directory folder.
    explicit Harness(const std::u16string& dataFolder);

    // Types the text into the entry box and presses Enter.
    void Enter(const std::string& text);
    void Mode(int mode) { search->SwitchMode(mode); }
    // Chooses an item of an area list by its text, as a click on it would.
    void Choose(int list, const std::string& item);

    std::string Text(std::string_view element) const { return ToUtf8(face.Text(element)); }
    std::string Edit(std::string_view list) const { return ToUtf8(face.EditText(list)); }
    std::vector<std::string> Items(std::string_view list) const;
    bool Enabled(std::string_view element) const { return face.IsEnabled(element); }
    std::string Clipboard() const { return face.clipboard() ? ToUtf8(*face.clipboard()) : "(none)"; }

    // The lowest record of index k whose key begins with `prefix`, found by reading every record.
    std::int32_t FirstRecordWith(int k, const std::string& prefix);
    // The postal code of the entry an index record points at.
    std::string PostalCodeOfRecord(int k, std::int32_t r);

    std::unique_ptr<TempDir> temp;
    DirectoryState dir;
    std::unique_ptr<Lookup> lookup;
    ClipFlags flags{};
    MemoryFace face;
    std::unique_ptr<Search> search;

private:
    void Start(const std::u16string& dataFolder);
};

} // namespace ubin::test
