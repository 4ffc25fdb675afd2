#include "TempFile.h"

namespace gogo {

std::string NumberedName(const std::string& name, int number)
{
	if (number <= 1)
		return name;
	const std::string extension = ".mp3";
	const std::string suffix = " (" + std::to_string(number) + ")";
	if (name.size() > extension.size()
			&& name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
		return name.substr(0, name.size() - extension.size()) + suffix + extension;
	}
	return name + suffix;
}

} // namespace gogo
