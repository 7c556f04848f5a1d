#include "tests/scenario_runner/scenario.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "tests/support/job_pattern.h"

namespace scenario {
namespace {

// One word, or one quoted text with its escapes resolved.
struct Token {
    std::string text;
    bool quoted = false;
};

// What a text holds escaped: each character, and the letter after its
// backslash.
constexpr std::pair<char, char> kEscapes[] = {
    {'\r', 'r'}, {'\n', 'n'}, {'\t', 't'}, {'"', '"'}, {'\\', '\\'}};

bool Unescape(char c, char* out) {
    for (const auto& [plain, letter] : kEscapes) {
        if (c != letter) continue;
        *out = plain;
        return true;
    }
    return false;
}

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error) {
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            Token token{"", true};
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                char out = line[i];
                if (out == '\\' && (i + 1 >= line.size() || !Unescape(line[++i], &out))) {
                    *error = "unknown escape in a text";
                    return false;
                }
                token.text.push_back(out);
            }
            if (i >= line.size()) {
                *error = "a text without its closing quote";
                return false;
            }
            ++i;
            tokens->push_back(token);
        } else {
            const std::size_t end = line.find_first_of(" \t\"#", i);
            tokens->push_back({line.substr(i, end == std::string::npos ? end : end - i), false});
            i = end == std::string::npos ? line.size() : end;
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, int base, unsigned long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtoul(text.c_str(), &end, base);
    return *end == '\0';
}

// Reads the statements of one file; each Read* takes one line's tokens.
class Reader {
  public:
    explicit Reader(Scenario* scenario) : s(*scenario) {}

    bool Line(int number, const std::string& text, const std::vector<Token>& tokens,
              std::string* error) {
        line = number;
        raw = &text;
        t = &tokens;
        if (tokens.empty()) return true;
        if (!Statement(error)) {
            if (error->empty()) *error = "cannot read this line";
            return false;
        }
        return true;
    }

    bool Finish(std::string* error) {
        if (!sawExit) {
            *error = "no \"exit\" line";
            return false;
        }
        return true;
    }

  private:
    const std::string& Word(std::size_t i) const {
        static const std::string none;
        return i < t->size() && !(*t)[i].quoted ? (*t)[i].text : none;
    }
    bool Is(std::size_t i, const char* word) const { return Word(i) == word; }
    bool Quoted(std::size_t i) const { return i < t->size() && (*t)[i].quoted; }
    std::size_t Count() const { return t->size(); }
    // The words from `i` on, joined by blanks, as written.
    std::string Rest(std::size_t i) const {
        std::string text;
        for (; i < t->size(); ++i) text += (text.empty() ? "" : " ") + (*t)[i].text;
        return text;
    }

    bool Statement(std::string* error) {
        const std::string& first = Word(0);
        if (first == "title:") return (s.title = Rest(1), true);
        if (first == "cutter" && Word(1).size() > 1 && Word(1).back() == ':') return ReadCutter();
        if (first == "cutter") return ReadReceived();
        if (first == "job") return ReadJob();
        if (first == "fault:") return ReadFault();
        if (first == "command" && Is(1, "line:")) return ReadCommandLine("line:", &s.commandLine);
        if (first == "other" && Is(1, "program:")) {
            s.hasOtherProgram = true;
            return ReadCommandLine("program:", &s.otherProgram);
        }
        if (first == "file" && Is(1, "dialog") && Count() == 2) return Begin(Place::FileDialog);
        if (first == "progress" && Count() == 1) return Begin(Place::Progress);
        if (first == "message" && Is(1, "box") && Count() == 2) return Begin(Place::MessageBox);
        if (first == "expect") return ReadExpect(error);
        if (first == "on" && Is(1, "wine")) return ReadOnWine(error);
        if (first == "choose" || first == "type" || first == "press" || first == "wait" ||
            first == "plug" || first == "unplug" || first == "move" || first == "send" ||
            first == "grow") {
            return ReadAction(error);
        }
        if (first == "exit") return ReadExit();
        if (first == "log") return ReadLog();
        *error = "unknown statement \"" + first + "\"";
        return false;
    }

    // cutter N: VID:PID serial S port P [slow MS] [absent] [close-fails] [other-driver]
    bool ReadCutter() {
        Cutter cutter;
        unsigned long number = 0, vendor = 0, product = 0, port = 0;
        const std::string& ids = Word(2);
        const std::size_t colon = ids.find(':');
        if (!ParseNumber(Word(1).substr(0, Word(1).size() - 1), 10, &number) ||
            colon == std::string::npos || !ParseNumber(ids.substr(0, colon), 16, &vendor) ||
            !ParseNumber(ids.substr(colon + 1), 16, &product) || !Is(3, "serial") ||
            Word(4).empty() || !Is(5, "port") || !ParseNumber(Word(6), 10, &port)) {
            return false;
        }
        cutter.number = static_cast<int>(number);
        cutter.vendorId = static_cast<std::uint16_t>(vendor);
        cutter.productId = static_cast<std::uint16_t>(product);
        cutter.serial = Word(4);
        cutter.port = static_cast<int>(port);
        for (std::size_t i = 7; i < Count(); ++i) {
            unsigned long ms = 0;
            if (Is(i, "slow") && ParseNumber(Word(i + 1), 10, &ms)) {
                cutter.slowMs = static_cast<unsigned>(ms);
                ++i;
            } else if (Is(i, "absent")) {
                cutter.absent = true;
            } else if (Is(i, "close-fails")) {
                cutter.closeFails = true;
            } else if (Is(i, "other-driver")) {
                cutter.otherDriver = true;
            } else {
                return false;
            }
        }
        if (s.FindCutter(cutter.number) != nullptr) return false;
        s.cutters.push_back(cutter);
        return true;
    }

    // job NAME: SIZE bytes [locked] [grows N]; NAME may hold blanks
    bool ReadJob() {
        Job job;
        std::size_t i = 1;
        for (; i < Count() && !Quoted(i); ++i) {
            job.name += (job.name.empty() ? "" : " ") + Word(i);
            if (job.name.back() == ':') break;
        }
        unsigned long size = 0;
        if (i >= Count() || job.name.size() < 2 || !ParseNumber(Word(i + 1), 10, &size) ||
            !Is(i + 2, "bytes")) {
            return false;
        }
        for (i += 3; i < Count(); ++i) {
            unsigned long grows = 0;
            if (Is(i, "locked") && !job.locked) {
                job.locked = true;
            } else if (Is(i, "grows") && job.grows == 0 && ParseNumber(Word(i + 1), 10, &grows) &&
                       grows > 0) {
                job.grows = static_cast<std::uint32_t>(grows);
                ++i;
            } else {
                return false;
            }
        }
        job.name.pop_back();
        job.size = static_cast<std::uint32_t>(size);
        s.jobs.push_back(job);
        return true;
    }

    // fault: FUNCTION call N fails with ERROR [T times]
    bool ReadFault() {
        Fault fault;
        fault.function = Word(1);
        if (fault.function.empty() || !Is(2, "call") || !ParseNumber(Word(3), 10, &fault.nth) ||
            !Is(4, "fails") || !Is(5, "with") || !ParseNumber(Word(6), 10, &fault.error)) {
            return false;
        }
        if (Count() == 9) {
            if (!ParseNumber(Word(7), 10, &fault.times) || !Is(8, "times")) return false;
        } else if (Count() != 7) {
            return false;
        }
        s.faults.push_back(fault);
        return true;
    }

    // command line: TEXT, other program: TEXT (the rest of the line after
    // `label`, verbatim: quotes and all)
    bool ReadCommandLine(const std::string& label, std::string* commandLine) {
        const std::string::size_type colon = raw->find(label) + label.size();
        const std::string::size_type start = raw->find_first_not_of(" \t", colon);
        *commandLine = start == std::string::npos ? "" : raw->substr(start);
        return true;
    }

    bool Begin(Place where) {
        place = where;
        inPlace = true;
        Step step;
        step.kind = Step::Kind::Begin;
        Add(step);
        return true;
    }

    bool ReadExpect(std::string* error) {
        if (!inPlace) {
            *error = "\"expect\" outside a file dialog, progress or message box";
            return false;
        }
        Step step;
        step.kind = Step::Kind::Expect;
        std::size_t i = 1;
        while (i < Count() && !Quoted(i)) step.what += (step.what.empty() ? "" : " ") + Word(i++);
        if (i >= Count()) return false;
        if (step.what == "list") {
            std::vector<std::string> entries;
            for (; i < Count(); ++i) {
                if (!Quoted(i)) return false;
                entries.push_back((*t)[i].text);
            }
            step.text = QuoteList(entries);
        } else {
            if (i + 1 != Count()) return false;
            step.text = (*t)[i].text;
        }
        if (!KnownExpectation(step.what)) {
            *error = "nothing called \"" + step.what + "\" can be expected here";
            return false;
        }
        Add(step);
        return true;
    }

    bool KnownExpectation(const std::string& what) const {
        switch (place) {
            case Place::FileDialog:
                return what == "title" || what == "list" || what == "selected" ||
                       what == "file name" || what == "send button";
            case Place::Progress:
                return what == "text" || what == "title";
            case Place::MessageBox:
                return what.empty();
        }
        return false;
    }

    // on wine "TEXT": the line before says what Wine shows instead.
    bool ReadOnWine(std::string* error) {
        if (Count() != 3 || !Quoted(2)) return false;
        if (lastWasLog) {
            s.log.back().wineMessages.push_back((*t)[2].text);
            return true;
        }
        if (s.steps.empty() || s.steps.back().kind != Step::Kind::Expect ||
            s.steps.back().what == "list") {
            *error = "\"on wine\" must follow an \"expect\" of a text or a \"log\" line";
            return false;
        }
        s.steps.back().wineText = (*t)[2].text;
        s.steps.back().hasWineText = true;
        return true;
    }

    bool ReadAction(std::string* error) {
        if (!inPlace) {
            *error = "a user action outside a file dialog, progress or message box";
            return false;
        }
        Step step;
        unsigned long number = 0;
        const std::string& verb = Word(0);
        if (verb == "choose" && Is(1, "output") && ParseNumber(Word(2), 10, &number) &&
            Count() == 3 && place == Place::FileDialog) {
            step.kind = Step::Kind::ChooseOutput;
        } else if (verb == "type" && Is(1, "file") && Count() == 3 && place == Place::FileDialog) {
            step.kind = Step::Kind::TypeFile;
            step.text = (*t)[2].text;
        } else if (verb == "press" && Count() == 2 && PressableHere(Word(1))) {
            step.kind = Step::Kind::Press;
            step.text = Word(1);
        } else if (((verb == "wait" && Is(1, "for")) || (verb == "move" && Is(1, "until"))) &&
                   Count() == 3 && ParsePercent(Word(2), &number) && place == Place::Progress) {
            step.kind = verb == "wait" ? Step::Kind::WaitFor : Step::Kind::MoveUntil;
        } else if (verb == "send" && Is(1, "command") && Is(2, "IDOK") && Count() == 3 &&
                   place == Place::Progress) {
            step.kind = Step::Kind::SendCommand;
            number = 1;  // IDOK
        } else if ((verb == "plug" || verb == "unplug") && Is(1, "cutter") && Count() == 3 &&
                   ParseNumber(Word(2), 10, &number)) {
            step.kind = verb == "plug" ? Step::Kind::Plug : Step::Kind::Unplug;
        } else if (verb == "grow" && Count() >= 2) {
            step.kind = Step::Kind::Grow;
            step.text = Rest(1);
        } else {
            *error = "cannot do \"" + Rest(0) + "\" here";
            return false;
        }
        step.number = static_cast<int>(number);
        Add(step);
        return true;
    }

    static bool ParsePercent(const std::string& word, unsigned long* number) {
        return !word.empty() && word.back() == '%' &&
               ParseNumber(word.substr(0, word.size() - 1), 10, number);
    }

    bool PressableHere(const std::string& button) const {
        switch (place) {
            case Place::FileDialog:
                return button == "Send" || button == "Cancel" || button == "Refresh";
            case Place::Progress:
                return button == "Cancel" || button == "Escape";
            case Place::MessageBox:
                return button == "OK";
        }
        return false;
    }

    bool ReadExit() {
        unsigned long code = 0;
        if (Count() != 2 || !ParseNumber(Word(1), 10, &code)) return false;
        s.exitCode = static_cast<int>(code);
        sawExit = true;
        inPlace = false;
        return true;
    }

    // cutter N got all of JOB | got part of JOB | got nothing (JOB may hold blanks)
    bool ReadReceived() {
        Received received;
        unsigned long number = 0;
        if (!ParseNumber(Word(1), 10, &number) || !Is(2, "got")) return false;
        received.cutter = static_cast<int>(number);
        if (Is(3, "nothing") && Count() == 4) {
            received.kind = Received::Kind::Nothing;
        } else if ((Is(3, "all") || Is(3, "part")) && Is(4, "of") && Count() >= 6) {
            received.kind = Is(3, "all") ? Received::Kind::All : Received::Kind::Part;
            received.job = Rest(5);
        } else {
            return false;
        }
        s.received.push_back(received);
        return true;
    }

    // log LEVEL "CONTEXT" "MESSAGE"
    bool ReadLog() {
        if (Count() != 4 || !(Is(1, "error") || Is(1, "warning")) || !Quoted(2) || !Quoted(3)) {
            return false;
        }
        LogRecord record;
        record.level = Word(1);
        record.context = (*t)[2].text;
        record.message = (*t)[3].text;
        s.log.push_back(record);
        lastWasLog = true;
        return true;
    }

    void Add(Step step) {
        step.place = place;
        step.line = line;
        s.steps.push_back(step);
    }

    Scenario& s;
    const std::vector<Token>* t = nullptr;
    const std::string* raw = nullptr;
    int line = 0;
    Place place = Place::FileDialog;
    bool inPlace = false;
    bool sawExit = false;

  public:
    bool lastWasLog = false;
};

// Each step that names a cutter or a job names one the scenario declares.
bool CheckReferences(const Scenario& s, std::string* error) {
    for (const Step& step : s.steps) {
        if ((step.kind == Step::Kind::Plug || step.kind == Step::Kind::Unplug) &&
            s.FindCutter(step.number) == nullptr) {
            *error =
                "line " + std::to_string(step.line) + ": no cutter " + std::to_string(step.number);
            return false;
        }
        const Job* job = step.kind == Step::Kind::Grow ? s.FindJob(step.text) : nullptr;
        if (step.kind == Step::Kind::Grow && (job == nullptr || job->grows == 0)) {
            *error = "line " + std::to_string(step.line) + ": no job " + step.text + " that grows";
            return false;
        }
    }
    for (const Received& received : s.received) {
        if (s.FindCutter(received.cutter) == nullptr ||
            (received.kind != Received::Kind::Nothing && s.FindJob(received.job) == nullptr)) {
            *error = "a \"got\" line names a cutter or job that is not declared";
            return false;
        }
    }
    return true;
}

}  // namespace

const Cutter* Scenario::FindCutter(int number) const {
    for (const Cutter& cutter : cutters) {
        if (cutter.number == number) return &cutter;
    }
    return nullptr;
}

const Job* Scenario::FindJob(const std::string& jobName) const {
    for (const Job& job : jobs) {
        if (job.name == jobName) return &job;
    }
    return nullptr;
}

bool Load(const std::string& path, Scenario* scenario, std::string* error) {
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    name = name.substr(0, name.rfind('.'));
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return Parse(name, text.str(), scenario, error);
}

bool Parse(const std::string& name, const std::string& text, Scenario* scenario,
           std::string* error) {
    *scenario = Scenario();
    scenario->name = name;
    Reader reader(scenario);
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<Token> tokens;
        std::string problem;
        if (!Tokenize(line, &tokens, &problem)) {
            *error = name + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
        // "on wine" after a log line belongs to that line; anything else ends it.
        const bool onWine =
            tokens.size() >= 2 && tokens[0].text == "on" && tokens[1].text == "wine";
        if (!onWine && !tokens.empty()) reader.lastWasLog = false;
        if (!reader.Line(number, line, tokens, &problem)) {
            *error = name + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    std::string problem;
    if (!reader.Finish(&problem) || !CheckReferences(*scenario, &problem)) {
        *error = name + ": " + problem;
        return false;
    }
    return true;
}

std::string Expand(const std::string& text, const std::string& jobFolder) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find('{', i);
        const std::size_t close = open == std::string::npos ? open : text.find('}', open);
        if (close == std::string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, open - i);
        const std::string inside = text.substr(open + 1, close - open - 1);
        unsigned long count = 0;
        if (inside.size() >= 3 && inside[1] == '*' && ParseNumber(inside.substr(2), 10, &count)) {
            out.append(count, inside[0]);
        } else {
            out += jobFolder + inside;
        }
        i = close + 1;
    }
    return out;
}

std::string JobBytes(const Job& job) {
    return JobPattern(std::size_t{job.size} + job.grows, job.name.size());
}

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto* escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                          [c](const auto& entry) { return entry.first == c; });
        if (escape == std::end(kEscapes)) {
            out.push_back(c);
        } else {
            out += {'\\', escape->second};
        }
    }
    return out;
}

std::string QuoteList(const std::vector<std::string>& entries) {
    std::string text;
    for (const std::string& entry : entries) {
        text += (text.empty() ? "\"" : " \"") + Escape(entry) + "\"";
    }
    return text;
}

}  // namespace scenario
