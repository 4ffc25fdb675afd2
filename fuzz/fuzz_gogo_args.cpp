// The encoder's command line: NUL-separated arguments of any bytes.
#include "GogoOptions.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	std::vector<std::string> arguments(1);
	for (size_t i = 0; i < size; i++) {
		if (data[i] == 0)
			arguments.emplace_back();
		else
			arguments.back().push_back(char(data[i]));
	}
	const gogo::ParseResult result = gogo::ParseArguments(arguments);
	if (result.action == gogo::ParseAction::Encode) {
		// An accepted command line names its input last (empty words are
		// left out) and a valid rate.
		std::string last;
		for (const std::string& argument : arguments) {
			if (!argument.empty())
				last = argument;
		}
		if (result.options.input != last)
			std::abort();
		if (result.options.bitrate != 0 && !gogo::IsValidBitrate(result.options.bitrate))
			std::abort();
	}
	if (result.action == gogo::ParseAction::Error && result.error.find('\n') != std::string::npos)
		std::abort();
	return 0;
}
