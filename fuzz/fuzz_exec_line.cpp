// The Exec line of a desktop entry, as the roster reads it to start an
// application: reading the value out of an entry, splitting it into
// arguments and expanding the field codes for the files being opened.
//
// The input is NUL-separated: the first piece is taken both as a whole
// desktop entry and as an Exec value, the pieces after it are the files.
//
// Besides not crashing:
//  - the arguments hold no more bytes than the value, an unquoted one holds
//    no blank and no quote, and quoting every argument again splits back
//    into the same arguments;
//  - the expansion gives, argument by argument, the quoted text, the files
//    for %F/%U, or the argument with its codes replaced; no file appears
//    anywhere else, and the result is bounded by the inputs;
//  - an entry the kit writes for a program (FreedesktopFormats) starts that
//    very program with the files, whatever bytes its path holds.

#include "DesktopExec.h"
#include "FreedesktopFormats.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using BPrivate::ExecArgument;

namespace {

void Check(bool condition)
{
	if (!condition)
		__builtin_trap();
}

constexpr size_t kMaxFiles = 8;

// An argument written in double quotes, as the Exec quoting rules ask.
std::string Quote(const std::string& text)
{
	std::string quoted = "\"";
	for (char c : text) {
		if (c == '"' || c == '`' || c == '$' || c == '\\')
			quoted += '\\';
		quoted += c;
	}
	quoted += '"';
	return quoted;
}

// What a quoted argument gives: its text, with "%%" standing for '%'.
std::string PercentsUndone(const std::string& text)
{
	std::string out;
	for (size_t i = 0; i < text.size(); i++) {
		out += text[i];
		if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%')
			i++;
	}
	return out;
}

// Whether an unquoted argument (not %F/%U) leaves anything after its codes
// are expanded: a literal byte, "%%", a lone '%' at the end, or %f/%u with
// a file to put there.
bool Produces(const std::string& text, bool haveSingle)
{
	for (size_t i = 0; i < text.size(); i++) {
		if (text[i] != '%' || i + 1 == text.size())
			return true;
		const char code = text[++i];
		if (code == '%' || ((code == 'f' || code == 'u') && haveSingle))
			return true;
	}
	return false;
}

size_t CountSingleCodes(const std::string& text)
{
	size_t count = 0;
	for (size_t i = 0; i + 1 < text.size(); i++) {
		if (text[i] == '%') {
			count += text[i + 1] == 'f' || text[i + 1] == 'u';
			i++;
		}
	}
	return count;
}

void CheckSplit(const std::string& exec, const std::vector<ExecArgument>& arguments, bool ok)
{
	// A false result with arguments is an unterminated quote after them.
	Check(!ok || !arguments.empty());
	size_t bytes = 0;
	for (const ExecArgument& argument : arguments) {
		bytes += argument.text.size();
		if (!argument.quoted) {
			Check(!argument.text.empty());
			Check(argument.text.find_first_of(" \t\n\"") == std::string::npos);
		}
	}
	Check(bytes <= exec.size());
	if (!ok)
		return;

	std::string requoted;
	for (const ExecArgument& argument : arguments)
		requoted += Quote(argument.text) + " ";
	std::vector<ExecArgument> again;
	Check(BPrivate::SplitExec(requoted, &again));
	Check(again.size() == arguments.size());
	for (size_t i = 0; i < again.size(); i++)
		Check(again[i].quoted && again[i].text == arguments[i].text);
}

void CheckExpand(const std::vector<ExecArgument>& arguments, const std::vector<std::string>& files,
	const std::string* single)
{
	const std::vector<std::string> argv = BPrivate::ExpandExec(arguments, files, single);

	size_t at = 0;
	for (const ExecArgument& argument : arguments) {
		if (argument.quoted) {
			Check(at < argv.size() && argv[at] == PercentsUndone(argument.text));
			at++;
			continue;
		}
		if (argument.text == "%F" || argument.text == "%U") {
			for (const std::string& file : files) {
				Check(at < argv.size() && argv[at] == file);
				at++;
			}
			continue;
		}
		if (!Produces(argument.text, single != nullptr))
			continue;
		Check(at < argv.size());
		const std::string& expanded = argv[at++];
		if (argument.text.find('%') == std::string::npos) {
			Check(expanded == argument.text);
			continue;
		}
		const size_t codes = CountSingleCodes(argument.text);
		const size_t inserted = single != nullptr ? codes * single->size() : 0;
		Check(expanded.size() <= argument.text.size() + inserted);
		if (single == nullptr || codes == 0) {
			// Nothing was put in: every byte comes from the argument, in order.
			size_t from = 0;
			for (char c : expanded) {
				from = argument.text.find(c, from);
				Check(from != std::string::npos);
				from++;
			}
		} else {
			Check(expanded.find(*single) != std::string::npos);
		}
	}
	Check(at == argv.size());
}

// The entry the kit writes for a program whose executable is `program`
// must start that program with the files.
void CheckWrittenEntry(const std::string& program, const std::string& name,
	const std::vector<std::string>& files)
{
	if (!BPrivate::is_plain_text(program))
		return;
	BPrivate::DesktopEntryFields fields;
	fields.name = name;
	fields.exec = BPrivate::desktop_exec_argument(program) + " %F";
	fields.icon = name;
	fields.mimeTypes = {"audio/x-wav", "text/x-TamselGogoFronted-list"};
	fields.signature = "application/x-vnd.Fuzz";
	std::string exec;
	Check(BPrivate::desktop_entry_exec(BPrivate::desktop_entry_text(fields), &exec));
	std::vector<ExecArgument> arguments;
	Check(BPrivate::SplitExec(exec, &arguments));
	const std::vector<std::string> argv
		= BPrivate::ExpandExec(arguments, files, files.empty() ? nullptr : &files.front());
	std::vector<std::string> expected = {program};
	expected.insert(expected.end(), files.begin(), files.end());
	Check(argv == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	const std::string_view input(reinterpret_cast<const char*>(data), size);
	std::vector<std::string> pieces;
	size_t position = 0;
	while (position <= input.size() && pieces.size() <= kMaxFiles) {
		size_t end = input.find('\0', position);
		if (end == std::string_view::npos)
			end = input.size();
		pieces.emplace_back(input.substr(position, end - position));
		position = end + 1;
	}
	const std::string& text = pieces.front();
	const std::vector<std::string> files(pieces.begin() + 1, pieces.end());

	// The piece as an Exec value.
	std::vector<ExecArgument> arguments;
	const bool ok = BPrivate::SplitExec(text, &arguments);
	CheckSplit(text, arguments, ok);
	if (ok) {
		CheckExpand(arguments, files, nullptr);
		for (const std::string& file : files)
			CheckExpand(arguments, files, &file);
	}

	// The piece as a whole entry.
	std::string exec;
	if (BPrivate::desktop_entry_exec(text, &exec)) {
		// Escapes only ever shorten the value.
		Check(exec.size() <= text.size());
		std::vector<ExecArgument> fromEntry;
		const bool entryOk = BPrivate::SplitExec(exec, &fromEntry);
		CheckSplit(exec, fromEntry, entryOk);
		if (entryOk)
			CheckExpand(fromEntry, files, files.empty() ? nullptr : &files.front());
	}

	CheckWrittenEntry(text, files.empty() ? std::string() : files.front(), files);
	return 0;
}
