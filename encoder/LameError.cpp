#include "LameError.h"

namespace gogo {

std::string LameErrorText(int code)
{
	switch (code) {
	case -1: return "LAME's output buffer was too small";
	case -2: return "LAME ran out of memory";
	case -3: return "LAME was not initialized";
	case -4: return "LAME's psychoacoustic model failed";
	default: return "LAME failed (error " + std::to_string(code) + ")";
	}
}

std::string LameSetupErrorText(int code)
{
	if (code == -1)
		return "LAME refused the settings";
	return "LAME refused the settings, error " + std::to_string(code);
}

} // namespace gogo
