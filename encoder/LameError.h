// LAME's failures in words, for messages: what its return codes mean.
#pragma once

#include <string>

namespace gogo {

// A negative return of lame_encode_buffer* or lame_encode_flush.
std::string LameErrorText(int code);

// A negative return of lame_init_params: -1 for settings LAME refuses.
std::string LameSetupErrorText(int code);

} // namespace gogo
