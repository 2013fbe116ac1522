#include "tests/windows/selftest_text.h"

#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace svcentry {

std::string XmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char character : text) {
    switch (character) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&apos;";
        break;
      default:
        escaped += character;
    }
  }
  return escaped;
}

// Microsoft's page on the configuration ("Windows Sandbox configuration",
// learn.microsoft.com/windows/security/application-security/
// application-isolation/windows-sandbox/
// windows-sandbox-configure-using-wsb-file) says only that the logon
// command runs "under the container user account", which "should be an
// administrator account"; it never says the command runs elevated, and an
// administrator runs unelevated under User Account Control. So the command
// elevates itself: Start-Process -Verb RunAs asks for elevation, and runs
// at once where the process already is. /k keeps the window and its output.
std::string SandboxConfiguration(const std::string& kit_directory) {
  const std::string command =
      "powershell.exe -NoProfile -Command \"Start-Process -Verb RunAs "
      "-FilePath cmd.exe -ArgumentList '/k " +
      std::string(kSandboxKitFolder) + "\\selftest.cmd /y'\"";
  // The tests need no network.
  return "<Configuration>\r\n"
         "  <Networking>Disable</Networking>\r\n"
         "  <MappedFolders>\r\n"
         "    <MappedFolder>\r\n"
         "      <HostFolder>" +
         XmlEscaped(kit_directory) +
         "</HostFolder>\r\n"
         "      <SandboxFolder>" +
         XmlEscaped(kSandboxKitFolder) +
         "</SandboxFolder>\r\n"
         "      <ReadOnly>false</ReadOnly>\r\n"
         "    </MappedFolder>\r\n"
         "  </MappedFolders>\r\n"
         "  <LogonCommand>\r\n"
         "    <Command>" +
         XmlEscaped(command) +
         "</Command>\r\n"
         "  </LogonCommand>\r\n"
         "</Configuration>\r\n";
}

namespace {

void AppendUtf8(unsigned long code, std::string* text) {
  if (code < 0x80) {
    *text += static_cast<char>(code);
  } else if (code < 0x800) {
    *text += static_cast<char>(0xC0 | (code >> 6));
    *text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *text += static_cast<char>(0xE0 | (code >> 12));
    *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *text += static_cast<char>(0xF0 | (code >> 18));
    *text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Appends what the entity or character reference at `at` stands for, and
// returns its length; 0 when none that this knows starts there.
std::size_t TakeReference(const std::string& value, std::size_t at,
                          std::string* text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&quot;", '"'},
      {"&amp;", '&'},
      {"&lt;", '<'},
      {"&gt;", '>'},
      {"&apos;", '\''}};
  for (const auto& [entity, character] : kEntities) {
    if (value.compare(at, entity.size(), entity) == 0) {
      *text += character;
      return entity.size();
    }
  }
  const std::size_t end = value.find(';', at);
  if (value.compare(at, 2, "&#") != 0 || end == std::string::npos) {
    return 0;
  }
  const bool hex = value.compare(at, 3, "&#x") == 0;
  const std::size_t digits = at + (hex ? 3 : 2);
  AppendUtf8(std::strtoul(value.substr(digits, end - digits).c_str(), nullptr,
                          hex ? 16 : 10),
             text);
  return end - at + 1;
}

// An attribute's value with its entities and character references
// replaced; one this does not know stays as it is written.
std::string Decoded(const std::string& value) {
  std::string text;
  for (std::size_t at = 0; at < value.size();) {
    const std::size_t taken =
        value[at] == '&' ? TakeReference(value, at, &text) : 0;
    if (taken == 0) {
      text += value[at++];
    } else {
      at += taken;
    }
  }
  return text;
}

// A start or end tag: its name ("/testcase" for an end tag) and attributes.
struct Tag {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  bool ends_itself = false;
};

std::string Attribute(const Tag& tag, const std::string& name) {
  for (const auto& [key, value] : tag.attributes) {
    if (key == name) {
      return value;
    }
  }
  return "";
}

// What a row saw where Wine and Windows differ: "seen", "seen 2", ...
bool IsSeen(const std::string& property) {
  return property == "seen" || property.starts_with("seen ");
}

bool IsSpace(char character) {
  return character == ' ' || character == '\t' || character == '\r' ||
         character == '\n';
}

// Reads the tag that starts at `*at`, leaving `*at` past its '>'. False
// when it is cut short or an attribute has no quoted value.
bool ReadTag(const std::string& xml, std::size_t* at, Tag* tag) {
  std::size_t next = *at + 1;
  const std::size_t name_end = xml.find_first_of(" \t\r\n/>", next + 1);
  if (name_end == std::string::npos) {
    return false;
  }
  tag->name = xml.substr(next, name_end - next);
  next = name_end;
  while (next < xml.size()) {
    if (IsSpace(xml[next])) {
      ++next;
    } else if (xml[next] == '>' || xml.compare(next, 2, "/>") == 0) {
      tag->ends_itself = xml[next] == '/';
      *at = xml.find('>', next) + 1;
      return true;
    } else {
      const std::size_t equals = xml.find('=', next);
      if (equals == std::string::npos || equals + 1 >= xml.size()) {
        return false;
      }
      const char quote = xml[equals + 1];
      const std::size_t end = xml.find(quote, equals + 2);
      if ((quote != '"' && quote != '\'') || end == std::string::npos) {
        return false;
      }
      tag->attributes.emplace_back(
          xml.substr(next, equals - next),
          Decoded(xml.substr(equals + 2, end - equals - 2)));
      next = end + 1;
    }
  }
  return false;
}

// Where markup that holds no element ends (a CDATA section, a comment, the
// declaration), if one starts at `at`: past its end, npos when it has none,
// or `at` itself when none starts there.
std::size_t PastOtherMarkup(const std::string& xml, std::size_t at) {
  static constexpr std::pair<std::string_view, std::string_view> kMarkup[] = {
      {"<![CDATA[", "]]>"}, {"<!--", "-->"}, {"<?", "?>"}, {"<!", ">"}};
  for (const auto& [start, end] : kMarkup) {
    if (xml.compare(at, start.size(), start) == 0) {
      const std::size_t found = xml.find(end, at + start.size());
      return found == std::string::npos ? found : found + end.size();
    }
  }
  return at;
}

// GoogleTest's message is "file:line", a line end, then its text.
std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}
std::string Location(const std::string& message) { return FirstLine(message); }
std::string TextOf(const std::string& message) {
  const std::size_t end = message.find('\n');
  return end == std::string::npos ? "" : FirstLine(message.substr(end + 1));
}

TestRow RowOf(const Tag& testcase) {
  TestRow row;
  row.name =
      Attribute(testcase, "classname") + "." + Attribute(testcase, "name");
  const std::string result = Attribute(testcase, "result");
  if (Attribute(testcase, "status") != "run") {
    row.outcome = TestRow::Outcome::kSkipped;
    row.notes.emplace_back("not run (disabled)");
  } else if (result == "skipped") {
    row.outcome = TestRow::Outcome::kSkipped;
  } else if (result != "completed") {
    row.outcome = TestRow::Outcome::kFailed;
    row.notes.push_back("a result GoogleTest does not give: " + result);
  }
  return row;
}

// Takes what `tag` says about the rows, where `in_case` tells whether it
// stands inside a test case.
void Take(const Tag& tag, bool* in_case, std::vector<TestRow>* rows) {
  if (tag.name == "testcase") {
    rows->push_back(RowOf(tag));
    *in_case = !tag.ends_itself;
  } else if (tag.name == "/testcase") {
    *in_case = false;
  } else if (!*in_case) {
    return;
  } else if (tag.name == "failure") {
    const std::string message = Attribute(tag, "message");
    const std::string text = TextOf(message);
    rows->back().outcome = TestRow::Outcome::kFailed;
    rows->back().notes.push_back(Location(message) +
                                 (text.empty() ? "" : ": " + text));
  } else if (tag.name == "skipped") {
    const std::string reason = TextOf(Attribute(tag, "message"));
    rows->back().notes.push_back(reason.empty() ? "no reason given" : reason);
  } else if (tag.name == "property" && IsSeen(Attribute(tag, "name"))) {
    rows->back().seen.push_back(Attribute(tag, "value"));
  }
}

}  // namespace

bool ReadTestResults(const std::string& xml, std::vector<TestRow>* rows) {
  bool began = false;
  bool ended = false;
  bool in_case = false;
  std::size_t at = 0;
  while ((at = xml.find('<', at)) != std::string::npos) {
    const std::size_t past = PastOtherMarkup(xml, at);
    if (past == std::string::npos) {
      return false;
    }
    if (past != at) {
      at = past;
      continue;
    }
    Tag tag;
    if (!ReadTag(xml, &at, &tag)) {
      return false;
    }
    began = began || tag.name == "testsuites";
    ended = ended || (began && tag.name == "/testsuites");
    Take(tag, &in_case, rows);
  }
  return ended;
}

std::vector<std::string> RowLines(const std::vector<TestRow>& rows) {
  std::vector<std::string> lines;
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  for (const TestRow& row : rows) {
    switch (row.outcome) {
      case TestRow::Outcome::kPassed:
        ++passed;
        lines.push_back("passed  " + row.name);
        break;
      case TestRow::Outcome::kFailed:
        ++failed;
        lines.push_back("failed  " + row.name);
        break;
      case TestRow::Outcome::kSkipped:
        ++skipped;
        lines.push_back("skipped " + row.name);
        break;
    }
    for (const std::string& note : row.notes) {
      lines.push_back("    " + note);
    }
    for (const std::string& seen : row.seen) {
      lines.push_back("    seen: " + seen);
    }
  }
  if (skipped > 0) {
    lines.push_back(std::to_string(skipped) + " skipped");
  }
  lines.push_back(std::to_string(passed) + " passed, " +
                  std::to_string(failed) + " failed");
  return lines;
}

}  // namespace svcentry
