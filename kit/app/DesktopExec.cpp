#include "DesktopExec.h"

#include <cstring>
#include <utility>

namespace BPrivate {

bool SplitExec(const std::string& exec, std::vector<ExecArgument>* out)
{
	std::string current;
	bool inQuotes = false;
	bool inArgument = false;
	bool quoted = false;
	for (size_t i = 0; i < exec.size(); i++) {
		char c = exec[i];
		if (inQuotes) {
			if (c == '"') {
				inQuotes = false;
			} else if (c == '\\' && i + 1 < exec.size()
				&& std::strchr("\"`$\\", exec[i + 1]) != nullptr) {
				current += exec[++i];
			} else {
				current += c;
			}
		} else if (c == ' ' || c == '\t' || c == '\n') {
			if (inArgument)
				out->push_back(ExecArgument{current, quoted});
			current.clear();
			inArgument = false;
			quoted = false;
		} else if (c == '"') {
			inQuotes = true;
			inArgument = true;
			quoted = true;
		} else {
			current += c;
			inArgument = true;
		}
	}
	if (inQuotes)
		return false;
	if (inArgument)
		out->push_back(ExecArgument{current, quoted});
	return !out->empty();
}

std::vector<std::string> ExpandExec(const std::vector<ExecArgument>& exec,
	const std::vector<std::string>& files, const std::string* single)
{
	std::vector<std::string> argv;
	for (const ExecArgument& argument : exec) {
		if (argument.quoted) {
			// Field codes are not expanded inside quotes, but a literal
			// percent sign is written "%%" there as anywhere else (the kit
			// writes a quoted program path that way).
			std::string text;
			for (size_t i = 0; i < argument.text.size(); i++) {
				text += argument.text[i];
				if (argument.text[i] == '%' && i + 1 < argument.text.size()
					&& argument.text[i + 1] == '%')
					i++;
			}
			argv.push_back(std::move(text));
			continue;
		}
		if (argument.text == "%F" || argument.text == "%U") {
			argv.insert(argv.end(), files.begin(), files.end());
			continue;
		}
		std::string expanded;
		bool onlyCodes = true;
		for (size_t i = 0; i < argument.text.size(); i++) {
			char c = argument.text[i];
			if (c != '%' || i + 1 == argument.text.size()) {
				expanded += c;
				onlyCodes = false;
				continue;
			}
			char code = argument.text[++i];
			if (code == '%') {
				expanded += '%';
				onlyCodes = false;
			} else if ((code == 'f' || code == 'u') && single != nullptr) {
				expanded += *single;
				onlyCodes = false;
			}
		}
		if (!onlyCodes)
			argv.push_back(expanded);
	}
	return argv;
}

} // namespace BPrivate
