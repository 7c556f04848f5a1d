// The hooked file-open dialog with template 101, driven by the scripted
// desktop, with a small hook of the tests' own.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/emu/control.h"
#include "platform/win32.h"
#include "resources/resource.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

namespace {

struct HookEvent {
    UINT message;
    WPARAM wParam;
    int selection;  // of the list, at a CBN_SELCHANGE
    bool fromList;  // lParam was the list's window
};

std::vector<HookEvent> events;
const OPENFILENAMEW* initRecord = nullptr;

void Fill(HWND list, int count) {
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; ++i) {
        WCHAR entry[32];
        wsprintfW(entry, L"Cutter %d", i + 1);
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    SendMessageW(list, CB_SETCURSEL, 0, 0);
}

int listSize = 3;

void Centre(HWND top) {
    RECT outer, inner;
    GetWindowRect(GetDesktopWindow(), &outer);
    GetWindowRect(top, &inner);
    SetWindowPos(top, HWND_TOP, (outer.right - (inner.right - inner.left)) / 2,
                 (outer.bottom - (inner.bottom - inner.top)) / 2, 0, 0, SWP_NOSIZE);
}

UINT_PTR CALLBACK TestHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND list = GetDlgItem(dialog, IDC_OUTPUT);
    if (message == WM_INITDIALOG) {
        events.push_back({message, wParam, -1, false});
        initRecord = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        HWND top = GetParent(dialog);
        Centre(top);
        SendMessageW(top, CDM_SETCONTROLTEXT, IDOK, reinterpret_cast<LPARAM>(L"&Send"));
        SendMessageW(top, CDM_HIDECONTROL, chx1, 0);
        Fill(list, listSize);
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        // The top window has grown by this child since WM_INITDIALOG.
        const auto* notify = reinterpret_cast<const OFNOTIFYW*>(lParam);
        if (notify->hdr.code == CDN_INITDONE) {
            events.push_back({message, wParam, -1, false});
            Centre(notify->hdr.hwndFrom);
        }
        return 0;
    }
    if (message == WM_COMMAND) {
        const bool fromList = reinterpret_cast<HWND>(lParam) == list;
        const int selection = HIWORD(wParam) == CBN_SELCHANGE
                                  ? static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0))
                                  : -1;
        events.push_back({message, wParam, selection, fromList});
        if (LOWORD(wParam) == IDC_REFRESH) Fill(list, listSize);
    }
    return 0;
}

class FileDialog : public testing::Test {
  protected:
    void SetUp() override {
        emu::UseScriptedDesktop();
        events.clear();
        initRecord = nullptr;
        listSize = 3;
        WriteWholeFile(folder / "job.plt", "IN;");
        job = Wide(folder / "job.plt");
        record.lStructSize = sizeof record;
        record.hInstance = GetModuleHandleW(nullptr);
        record.lpstrFilter = L"Data Files (*.plt;*.pm)\0*.plt;*.pm\0All Files (*.*)\0*.*\0";
        record.nFilterIndex = 1;
        record.lpstrFile = fileName;
        record.nMaxFile = MAX_PATH;
        record.lpstrTitle = L"Send to Cutter Utility";
        record.Flags = 0x81860;
        record.lpfnHook = TestHook;
        record.lpTemplateName = MAKEINTRESOURCEW(IDD_OUTPUT_SELECT);
        record.FlagsEx = OFN_EX_NOPLACESBAR;
    }

    std::vector<HookEvent> Commands(WORD id) const {
        std::vector<HookEvent> found;
        for (const HookEvent& e : events) {
            if (e.message == WM_COMMAND && LOWORD(e.wParam) == id) found.push_back(e);
        }
        return found;
    }

    TempFolder folder;
    std::wstring job;
    WCHAR fileName[MAX_PATH] = {};
    OPENFILENAMEW record{};
};

TEST_F(FileDialog, HookSeesInitThenSelectionChangeAndSendReturnsThePath) {
    emu::ScriptFileDialog({emu::PickOutput(1), emu::TypeFileName(job), emu::PressSend()});
    EXPECT_EQ(GetOpenFileNameW(&record), TRUE);
    EXPECT_EQ(std::wstring(fileName), job);

    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(initRecord, &record);
    const auto changes = Commands(IDC_OUTPUT);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(HIWORD(changes[0].wParam), CBN_SELCHANGE);
    EXPECT_TRUE(changes[0].fromList);
    EXPECT_EQ(changes[0].selection, 1);
    EXPECT_TRUE(emu::Unscripted().empty());
}

TEST_F(FileDialog, ShowsTheHooksChangesAndTheTemplateBelowItsControls) {
    emu::ScriptFileDialog({emu::PressCancel()});
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), 0u);

    const auto dialogs = emu::FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    const emu::DialogView& view = dialogs[0].views.front();
    EXPECT_EQ(view.title, L"Send to Cutter Utility");
    EXPECT_EQ(view.Control(IDOK)->text, L"&Send");
    EXPECT_FALSE(view.Control(chx1)->visible);
    EXPECT_EQ(view.Control(IDC_OUTPUT)->items,
              (std::vector<std::wstring>{L"Cutter 1", L"Cutter 2", L"Cutter 3"}));
    EXPECT_EQ(view.Control(IDC_OUTPUT)->selection, 0);
    EXPECT_EQ(view.Control(IDC_REFRESH)->text, L"Refresh");
    EXPECT_GT(view.Control(IDC_OUTPUT)->rect.top, view.Control(IDCANCEL)->rect.bottom);
    RECT screen;
    GetWindowRect(GetDesktopWindow(), &screen);
    EXPECT_NEAR(view.rect.left + view.rect.right, screen.right, 1);
    EXPECT_NEAR(view.rect.top + view.rect.bottom, screen.bottom, 1);
}

TEST_F(FileDialog, NamesThatDoNotExistKeepTheDialogOpen) {
    const std::wstring missingFile = Wide(folder / "missing.plt");
    const std::wstring missingFolder = Wide(folder / "nowhere/job.plt");
    bool openAfterRefusals = false;
    emu::ScriptFileDialog({emu::TypeFileName(missingFile), emu::PressSend(),
                           emu::TypeFileName(missingFolder), emu::PressSend(),
                           emu::Call([&] { openAfterRefusals = true; }), emu::PressCancel()});
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    EXPECT_TRUE(openAfterRefusals);
    const auto dialogs = emu::FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].refused, (std::vector<std::wstring>{missingFile, missingFolder}));
    EXPECT_EQ(fileName[0], L'\0');
}

// As Windows does: a path in the record opens its folder, the name box shows
// the name alone, and Send returns the whole path again.
TEST_F(FileDialog, StartsInTheFolderOfTheRecordsFileAndRelativeNamesUseTheFolder) {
    std::copy(job.begin(), job.end(), fileName);
    emu::ScriptFileDialog({emu::PressSend()});
    EXPECT_EQ(GetOpenFileNameW(&record), TRUE);
    EXPECT_EQ(emu::FileDialogs()[0].views.front().Control(cmb13)->text, L"job.plt");
    EXPECT_EQ(std::wstring(fileName), job);

    const std::wstring folderName = Wide(folder.Path());
    record.lpstrInitialDir = folderName.c_str();
    emu::ScriptFileDialog({emu::TypeFileName(L"job.plt"), emu::PressSend()});
    EXPECT_EQ(GetOpenFileNameW(&record), TRUE);
    EXPECT_EQ(std::wstring(fileName), job);
    EXPECT_EQ(fileName + record.nFileOffset, std::wstring(L"job.plt"));
    EXPECT_EQ(fileName + record.nFileExtension, std::wstring(L"plt"));
}

// The working folder and HOME of one test, given back after it.
class Surroundings {
  public:
    Surroundings(const std::string& working, const std::string& home) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) != nullptr) savedWorking = buffer;
        if (const char* h = std::getenv("HOME")) savedHome = h;
        Move(working);
        setenv("HOME", home.c_str(), 1);
    }
    ~Surroundings() {
        Move(savedWorking);
        setenv("HOME", savedHome.c_str(), 1);
    }
    static void Move(const std::string& folder) { EXPECT_EQ(chdir(folder.c_str()), 0) << folder; }

  private:
    std::string savedWorking, savedHome;
};

// As Windows 7 and later, with no folder and no file in the record: the
// folder of this program's last chosen file, else the working folder when
// it holds files of the filter's types, else the user's own folder. A name
// typed alone is taken in the folder the dialog opened.
TEST_F(FileDialog, OpensWhereTheLastFileWasChosenElseBesideJobsElseAtHome) {
    TempFolder empty, home, jobs;
    WriteWholeFile(home / "home.plt", "IN;");
    WriteWholeFile(jobs / "JOB.PM", "IN;");  // the filter's types whatever the case
    const Surroundings surroundings(empty.Path(), home.Path());
    const auto openedAt = [this](const std::wstring& name) {
        fileName[0] = L'\0';  // no file in the record, whose folder would come first
        emu::ScriptFileDialog({emu::TypeFileName(name), emu::PressSend()});
        return GetOpenFileNameW(&record) ? std::wstring(fileName) : L"(cancelled)";
    };
    EXPECT_EQ(openedAt(L"home.plt"), Wide(home / "home.plt")) << "no job beside: home";
    emu::UseScriptedDesktop();  // a history of nothing
    Surroundings::Move(jobs.Path());
    EXPECT_EQ(openedAt(L"JOB.PM"), Wide(jobs / "JOB.PM")) << "jobs in the working folder";
    Surroundings::Move(empty.Path());
    EXPECT_EQ(openedAt(L"JOB.PM"), Wide(jobs / "JOB.PM")) << "where the last file was chosen";
}

TEST_F(FileDialog, RefreshReachesTheHookAfterTheScriptedCall) {
    emu::ScriptFileDialog(
        {emu::Call([] { listSize = 2; }), emu::PressRefresh(), emu::PressCancel()});
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    const auto clicks = Commands(IDC_REFRESH);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(HIWORD(clicks[0].wParam), BN_CLICKED);
    EXPECT_EQ(emu::FileDialogs()[0].views.back().Control(IDC_OUTPUT)->items.size(), 2u);
}

TEST_F(FileDialog, RefusesRecordsItCannotUse) {
    record.lStructSize = 76;  // the size before the places-bar fields
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_STRUCTSIZE));

    record.lStructSize = sizeof record;
    record.lpTemplateName = MAKEINTRESOURCEW(999);
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(CDERR_FINDRESFAILURE));
    EXPECT_TRUE(emu::FileDialogs().empty());
}

TEST_F(FileDialog, NameLongerThanTheBufferEndsTheDialogWithoutIt) {
    record.nMaxFile = static_cast<DWORD>(job.size());  // no room for the terminator
    emu::ScriptFileDialog({emu::TypeFileName(job), emu::PressSend()});
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), static_cast<DWORD>(FNERR_BUFFERTOOSMALL));
    EXPECT_EQ(static_cast<std::size_t>(fileName[0]), job.size() + 1);  // the size it needs
}

TEST_F(FileDialog, UnscriptedDialogIsCancelledAndListed) {
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    const auto dialogs = emu::FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_FALSE(dialogs[0].scripted);
    EXPECT_EQ(emu::Unscripted().size(), 1u);

    emu::ScriptFileDialog({emu::PickOutput(7)});  // there is no entry 7
    EXPECT_EQ(GetOpenFileNameW(&record), FALSE);
    EXPECT_EQ(emu::Unscripted().size(), 3u);  // the bad pick, then the give-up
}

}  // namespace
