// Output names and paths of the encoder.
#include "Paths.h"

namespace gogo {

std::string OutputFileName(const std::string& inputName)
{
	const size_t dot = inputName.rfind('.');
	// A leading dot starts a hidden name, not an extension.
	if (dot == std::string::npos || dot == 0)
		return inputName + ".mp3";
	return inputName.substr(0, dot) + ".mp3";
}

std::string JoinPath(const std::string& directory, const std::string& name)
{
	if (directory.empty())
		return name;
	if (directory.back() == '/')
		return directory + name;
	return directory + "/" + name;
}

std::string OutputPath(const Options& options)
{
	std::string directory, name;
	SplitPath(options.input, directory, name);
	if (options.hasOutputDirectory)
		directory = options.outputDirectory;
	return JoinPath(directory, OutputFileName(name));
}

std::string QuotePath(const std::string& path)
{
	static const char kHex[] = "0123456789abcdef";
	std::string result = "'";
	for (char ch : path) {
		const unsigned char c = static_cast<unsigned char>(ch);
		if (c < 0x20 || c == 0x7f) {
			result += "\\x";
			result += kHex[c >> 4];
			result += kHex[c & 0xf];
		} else {
			result += ch;
		}
	}
	result += "'";
	return result;
}

} // namespace gogo
