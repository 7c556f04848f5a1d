#include "tests/scenario_runner/scenario_check.h"

#include <cctype>

namespace scenario {
namespace {

// "YYYY-MM-DD HH:MM:SS [" at `at`: where a record starts.
bool IsRecordStart(const std::string& text, std::size_t at) {
    static const char kShape[] = "dddd-dd-dd dd:dd:dd [";
    for (std::size_t i = 0; kShape[i] != '\0'; ++i) {
        if (at + i >= text.size()) return false;
        const unsigned char c = static_cast<unsigned char>(text[at + i]);
        if (kShape[i] == 'd' ? !std::isdigit(c) : c != static_cast<unsigned char>(kShape[i])) {
            return false;
        }
    }
    return true;
}

LogLine ParseRecord(std::string record) {
    LogLine line;
    // The writer ends each record with CR LF and turns a LF inside it into
    // CR LF, so a message's CR LF stands as CR CR LF.
    if (record.size() >= 2 && record.compare(record.size() - 2, 2, "\r\n") == 0) {
        record.resize(record.size() - 2);
    }
    std::string::size_type at;
    while ((at = record.find("\r\r\n")) != std::string::npos) record.erase(at, 1);
    const std::size_t levelStart = record.find('[') + 1;
    const std::size_t levelEnd = record.find("]: ", levelStart);
    if (levelEnd == std::string::npos) return {"", "", record};
    line.level = record.substr(levelStart, levelEnd - levelStart);
    const std::size_t contextStart = levelEnd + 3;
    const std::size_t separator = record.find(" - ", contextStart);
    if (separator == std::string::npos) {
        line.message = record.substr(contextStart);
        return line;
    }
    line.context = record.substr(contextStart, separator - contextStart);
    line.message = record.substr(separator + 3);
    return line;
}

// `seen` is `pattern`, where each "{number}" of the pattern stands for one
// or more decimal digits (a count that depends on timing).
bool MatchesPattern(const std::string& pattern, const std::string& seen) {
    static const std::string kNumber = "{number}";
    const std::size_t hole = pattern.find(kNumber);
    if (hole == std::string::npos) return pattern == seen;
    if (seen.compare(0, hole, pattern, 0, hole) != 0) return false;
    std::size_t digits = hole;
    while (digits < seen.size() && std::isdigit(static_cast<unsigned char>(seen[digits]))) {
        ++digits;
    }
    return digits > hole &&
           MatchesPattern(pattern.substr(hole + kNumber.size()), seen.substr(digits));
}

std::string Quote(const std::string& text) {
    return "\"" + Escape(text) + "\"";
}

std::string Describe(const LogLine& record) {
    return record.level + " " + Quote(record.context) + " " + Quote(record.message);
}

std::string At(int line) {
    return "line " + std::to_string(line) + ": ";
}

class Checker {
  public:
    Checker(const Scenario& expected, const Observed& observed, const std::string& jobFolder,
            bool underWine)
        : s(expected), o(observed), folder(jobFolder), wine(underWine) {}

    std::vector<std::string> Run() {
        for (const std::string& problem : o.problems) failures.push_back(problem);
        Steps();
        if (o.exitCode != s.exitCode) {
            Fail("exit code " + std::to_string(o.exitCode) + ", expected " +
                 std::to_string(s.exitCode));
        }
        for (const Cutter& cutter : s.cutters) Bytes(cutter);
        Log();
        return failures;
    }

  private:
    void Fail(const std::string& what) { failures.push_back(what); }

    void Steps() {
        std::size_t box = 0;
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            const Step& step = s.steps[i];
            if (step.kind == Step::Kind::Begin && step.place == Place::MessageBox) {
                if (box >= o.boxes.size()) {
                    Fail(At(step.line) + "no message box was shown");
                } else if (o.boxes[box].caption != "bladepost") {
                    Fail(At(step.line) + "the box's caption is " + Quote(o.boxes[box].caption));
                }
                ++box;
            }
            if (step.kind != Step::Kind::Expect) continue;
            const auto seen = o.seen.find(i);
            std::string expected = step.what == "list" ? step.text : step.Expected(wine);
            if (step.what == "file name") expected = Expand(expected, folder);
            if (seen == o.seen.end()) {
                Fail(At(step.line) + "not seen: " + step.what + " " + Quote(expected));
            } else if (seen->second != expected) {
                const bool list = step.what == "list";
                Fail(At(step.line) + (step.what.empty() ? "message box" : step.what) + " is " +
                     (list ? seen->second : Quote(seen->second)) + ", expected " +
                     (list ? expected : Quote(expected)));
            }
        }
        for (; box < o.boxes.size(); ++box) {
            Fail("a message box the scenario does not name: " + Quote(o.boxes[box].text));
        }
    }

    void Bytes(const Cutter& cutter) {
        Received want;
        want.cutter = cutter.number;
        for (const Received& received : s.received) {
            if (received.cutter == cutter.number) want = received;
        }
        const auto got = o.received.find(cutter.number);
        const std::string bytes = got == o.received.end() ? std::string() : got->second;
        const std::string name = "cutter " + std::to_string(cutter.number);
        if (want.kind == Received::Kind::Nothing) {
            if (!bytes.empty()) Fail(name + " got " + std::to_string(bytes.size()) + " bytes");
            return;
        }
        const std::string job = JobBytes(*s.FindJob(want.job));
        if (want.kind == Received::Kind::All && bytes != job) {
            Fail(name + " did not get all of " + want.job + " unchanged (" +
                 std::to_string(bytes.size()) + " of " + std::to_string(job.size()) + " bytes)");
        }
        if (want.kind == Received::Kind::Part &&
            (bytes.size() >= job.size() || job.compare(0, bytes.size(), bytes) != 0)) {
            Fail(name + " did not get a part of " + want.job + " (" + std::to_string(bytes.size()) +
                 " of " + std::to_string(job.size()) + " bytes, or not its start)");
        }
    }

    void Log() {
        const std::vector<LogLine> records = ParseLog(o.logText);
        const std::size_t count = records.size() > s.log.size() ? records.size() : s.log.size();
        for (std::size_t i = 0; i < count; ++i) {
            const std::string n = "log record " + std::to_string(i + 1) + ": ";
            if (i >= s.log.size()) {
                Fail(n + "not expected: " + Describe(records[i]));
                continue;
            }
            const LogRecord& want = s.log[i];
            const std::vector<std::string> messages = want.Messages(wine);
            const LogLine wanted{want.level, want.context, messages.front()};
            if (i >= records.size()) {
                Fail(n + "missing: " + Describe(wanted));
                continue;
            }
            bool matched = false;
            for (const std::string& message : messages) {
                matched = matched || MatchesPattern(message, records[i].message);
            }
            if (records[i].level != wanted.level || records[i].context != wanted.context ||
                !matched) {
                Fail(n + Describe(records[i]) + ", expected " + Describe(wanted) +
                     (messages.size() > 1 ? " or another of its messages" : ""));
            }
        }
    }

    const Scenario& s;
    const Observed& o;
    const std::string folder;
    const bool wine;
    std::vector<std::string> failures;
};

}  // namespace

std::vector<LogLine> ParseLog(const std::string& text) {
    std::vector<LogLine> records;
    std::size_t start = std::string::npos;
    for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        if (IsRecordStart(text, at)) {
            if (start != std::string::npos) {
                records.push_back(ParseRecord(text.substr(start, at - start)));
            }
            start = at;
        }
        if (text.find('\n', at) == std::string::npos) break;
    }
    if (start != std::string::npos) records.push_back(ParseRecord(text.substr(start)));
    return records;
}

std::vector<std::string> Check(const Scenario& expected, const Observed& observed,
                               const std::string& jobFolder, bool underWine) {
    return Checker(expected, observed, jobFolder, underWine).Run();
}

}  // namespace scenario
