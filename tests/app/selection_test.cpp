// Choosing the file and the cutter: the shortcut, the extended file dialog
// and its cutter list.
#include "tests/app/front_end_fixture.h"

#include <cwchar>

#include "app/command_line.h"

namespace {

const emu::DialogView& FirstView(std::size_t showing = 0) {
    static std::vector<emu::FileDialogRecord> records;
    records = emu::FileDialogs();
    return records.at(showing).views.at(0);
}

TEST_F(FrontEnd, ShortcutSendsToTheOnlyCutterWithoutAFileDialog) {
    auto cutter = PlugCutter(1, "0001A2");
    const std::string job = MakeJob(3000);
    EXPECT_EQ(Run(Wide(job)), 0);
    EXPECT_TRUE(emu::FileDialogs().empty());
    EXPECT_TRUE(Received(*cutter) == ReadWholeFile(job)) << "bytes differ";
    EXPECT_EQ(emu::ProgressPositions(), (std::vector<int>{34, 68, 100}));
    EXPECT_TRUE(emu::MessageBoxes().empty());
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_TRUE(emu::Unscripted().empty());
    EXPECT_EQ(log.NewRecords(), "");
}

TEST_F(FrontEnd, CommandLineWithoutCutterShowsTheDialogWithoutTheFile) {
    const std::string job = MakeJob(10);
    emu::ScriptFileDialog({emu::PressCancel()});
    EXPECT_EQ(Run(Wide(job)), 2);
    const emu::DialogView& view = FirstView();
    EXPECT_EQ(view.title, L"Send to Cutter Utility");
    EXPECT_EQ(view.Control(cmb13)->text, L"");
    EXPECT_EQ(view.Control(IDOK)->text, L"&Send");
    EXPECT_FALSE(view.Control(chx1)->visible);
    EXPECT_EQ(view.Control(IDC_OUTPUT)->items, std::vector<std::wstring>{L"No cutter connected"});
    EXPECT_EQ(view.Control(IDC_OUTPUT)->selection, 0);
    EXPECT_EQ(view.Control(IDC_REFRESH)->text, L"Refresh");
    EXPECT_EQ(view.Control(cmb1)->items.at(0), L"Data Files (*.plt;*.pm)");
}

TEST_F(FrontEnd, DialogIsCentredOnTheDesktop) {
    emu::ScriptFileDialog({emu::PressCancel()});
    Run();
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    const RECT window = FirstView().rect;
    EXPECT_EQ(window.left - desktop.left, desktop.right - window.right);
    EXPECT_NEAR(window.top - desktop.top, desktop.bottom - window.bottom, 1);
}

TEST_F(FrontEnd, WithoutCutterSendBringsTheDialogBackWithTheFileKept) {
    const std::string job = MakeJob(10);
    emu::ScriptFileDialog({emu::TypeFileName(Wide(job)), emu::PressSend()});
    emu::ScriptFileDialog({emu::PressCancel()});
    EXPECT_EQ(Run(), 2);
    for (const auto& what : emu::Unscripted()) ADD_FAILURE() << what;
    const auto showings = emu::FileDialogs();
    ASSERT_EQ(showings.size(), 2u);
    // As Windows does, the dialog opens in the file's folder and shows its name.
    EXPECT_EQ(showings[1].views.at(0).Control(cmb13)->text, L"job.plt");
    EXPECT_TRUE(emu::Unscripted().empty());
}

TEST_F(FrontEnd, RefreshListsANewCutterInPortOrderAndSelectsTheFirst) {
    PlugCutter(3, "0003");
    std::shared_ptr<emu::VirtualDevice> second;
    emu::ScriptFileDialog({emu::Call([&] { second = PlugCutter(1, "0001", 0x4C05); }),
                           emu::PressRefresh(), emu::PressCancel()});
    EXPECT_EQ(Run(), 2);
    const auto views = emu::FileDialogs().at(0).views;
    const emu::ControlView& list = *views.back().Control(IDC_OUTPUT);
    EXPECT_EQ(list.items, (std::vector<std::wstring>{L"MERLIN2 (#1)", L"MERLIN (#3)"}));
    EXPECT_EQ(list.selection, 0);
    EXPECT_EQ(SelectedCutterIndex, 0);
}

TEST_F(FrontEnd, ChoosingTheSecondCutterThenRefreshSelectsTheFirstAgain) {
    auto first = PlugCutter(1, "0001");
    auto second = PlugCutter(2, "0002");
    const std::string job = MakeJob(100);
    emu::ScriptFileDialog(
        {emu::PickOutput(1), emu::PressRefresh(), emu::TypeFileName(Wide(job)), emu::PressSend()});
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(Received(*first) == ReadWholeFile(job)) << "bytes differ";
    EXPECT_EQ(second->ReceivedCount(), 0u);
}

TEST_F(FrontEnd, ChosenCutterIsTheOneInPortOrderAndModelsAreToldApartBySerial) {
    auto onPortTwo = PlugCutter(2, "1A2");
    auto onPortOne = PlugCutter(1, "0");  // no serial number shown
    auto third = PlugCutter(3, "1A3");
    const std::string job = MakeJob(2000);
    emu::ScriptFileDialog({emu::PickOutput(1), emu::TypeFileName(Wide(job)), emu::PressSend()});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(FirstView().Control(IDC_OUTPUT)->items,
              (std::vector<std::wstring>{L"MERLIN", L"MERLIN (#1A2)", L"MERLIN (#1A3)"}));
    EXPECT_TRUE(Received(*onPortTwo) == ReadWholeFile(job)) << "bytes differ";
    EXPECT_EQ(onPortOne->ReceivedCount() + third->ReceivedCount(), 0u);
}

TEST_F(FrontEnd, CommandLineWithTwoCuttersOffersTheNamedFile) {
    auto first = PlugCutter(1, "01");
    PlugCutter(2, "02");
    const std::string job = MakeJob(1500);
    emu::ScriptFileDialog({emu::PressSend()});
    EXPECT_EQ(Run(Wide(job)), 0);
    EXPECT_EQ(FirstView().Control(cmb13)->text, L"job.plt");
    EXPECT_TRUE(Received(*first) == ReadWholeFile(job)) << "bytes differ";
}

TEST_F(FrontEnd, TypedNameOfAMissingFileIsRefusedByTheDialog) {
    PlugCutter(1, "01");
    emu::ScriptFileDialog(
        {emu::TypeFileName(Wide(jobs / "missing.plt")), emu::PressSend(), emu::PressCancel()});
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(emu::FileDialogs().at(0).refused,
              std::vector<std::wstring>{Wide(jobs / "missing.plt")});
}

TEST_F(FrontEnd, OnlyQuotesAroundTheWholeCommandLineAreTakenOff) {
    auto cutter = PlugCutter(1, "01");
    const std::wstring job = Wide(MakeJob(10));
    // A lone quote, or quotes that do not enclose the whole name, stay in it.
    for (const std::wstring& verbatim : {std::wstring(L"\""), L"\"" + job, L"\"" + job + L"\"\""}) {
        emu::UseScriptedDesktop();
        EXPECT_EQ(Run(verbatim), 1);
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Unable to open the file (The "
                                                           "filename, directory name, or volume "
                                                           "label syntax is incorrect.\r\n)"});
    }
    emu::UseScriptedDesktop();
    EXPECT_EQ(Run(L"  \"" + job + L"\" "), 0);
    EXPECT_TRUE(Received(*cutter) == ReadWholeFile(jobs / "job.plt")) << "bytes differ";
}

// The name the dialog or the transfer is given, whole and terminated in a
// buffer that held something else.
TEST(CommandLine, QuotesComeOffOnlyWhenTheyEncloseOneName) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L" \"a b.plt\" ", L"a b.plt"}, {L"a.plt\"", L"a.plt\""}, {L"\"a\" \"b\"", L"\"a\" \"b\""}};
    for (const auto& c : cases) {
        WCHAR name[MAX_PATH];
        std::wmemset(name, L'x', MAX_PATH);
        ASSERT_TRUE(TakeCommandLine(c.first.c_str(), name));
        EXPECT_EQ(std::wstring(name, wcsnlen(name, MAX_PATH)), c.second);
    }
}

TEST_F(FrontEnd, OverlongCommandLineIsAFileThatCannotBeOpened) {
    PlugCutter(1, "01");
    EXPECT_EQ(Run(std::wstring(300, L'a')), 1);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"Unable to open the file (The filename or extension is too "
                                       "long.\r\n)"});
    EXPECT_TRUE(emu::FileDialogs().empty());
}

TEST_F(FrontEnd, EnumerationFailureIsShownAndEndsWithOne) {
    emu::FailCall("SetupDiGetClassDevsW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(L"job.plt"), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"SetupDiGetClassDevs failed (5)"});
    // Enumeration logged it; the entry point does not log it again.
    EXPECT_EQ(log.NewRecords().substr(20),
              "[error]: void __thiscall QUILL::UsbManager::Init(bool) - SetupDiGetClassDevs failed "
              "(5)\r\n");

    // The same inside the dialog, at Refresh: the dialog closes, the user is told.
    emu::UseScriptedDesktop();
    emu::ClearFaults();
    emu::ScriptFileDialog(
        {emu::Call([] { emu::FailCall("SetupDiGetClassDevsW", 1, 5); }), emu::PressRefresh()});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"SetupDiGetClassDevs failed (5)"});
    ExpectWarningBoxes();
}

TEST_F(FrontEnd, PositionThatNamesNoCutterIsAFailure) {
    PlugCutter(1, "01");
    const std::string job = MakeJob(10);
    emu::ScriptFileDialog({emu::TypeFileName(Wide(job)), emu::Call([] { SelectedCutterIndex = 5; }),
                           emu::PressSend()});
    EXPECT_EQ(Run(), 1);
}

}  // namespace
