#include "platform/CommandLine.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program: up to the closing quote when quoted, else up to the next blank.
std::string TakeProgram(std::string_view line, size_t& i) {
  std::string program;
  if (line[i] == '"') {
    const size_t end = line.find('"', ++i);
    program = line.substr(i, end - i);
    i = end == std::string_view::npos ? line.size() : end + 1;
    return program;
  }
  while (i < line.size() && !IsBlank(line[i])) {
    program += line[i++];
  }
  return program;
}

// One argument after the program, starting at a non-blank character.
// `quotes` counts the quotes of the current run: 1 = quoting, a third quote in
// a run is a literal quote, and a run ending on 2 ends the quoting.
std::string TakeArgument(std::string_view line, size_t& i) {
  std::string arg;
  int quotes = 0;
  size_t backslashes = 0;
  while (i < line.size() && !(IsBlank(line[i]) && quotes == 0)) {
    const char c = line[i++];
    if (c == '\\') {
      arg += c;
      ++backslashes;
      continue;
    }
    if (c != '"') {
      arg += c;
      backslashes = 0;
      continue;
    }
    // Half of the backslashes before a quote stay; an odd one makes it literal.
    arg.resize(arg.size() - backslashes / 2);
    if (backslashes % 2 == 0) {
      ++quotes;
    } else {
      arg.back() = '"';
    }
    backslashes = 0;
    while (i < line.size() && line[i] == '"') {
      ++i;
      if (++quotes == 3) {
        arg += '"';
        quotes = 0;
      }
    }
    if (quotes == 2) {
      quotes = 0;
    }
  }
  return arg;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) {
    ++i;
  }
  if (i == line.size()) {
    return args;
  }
  args.push_back(TakeProgram(line, i));
  while (true) {
    while (i < line.size() && IsBlank(line[i])) {
      ++i;
    }
    if (i == line.size()) {
      return args;
    }
    args.push_back(TakeArgument(line, i));
  }
}
