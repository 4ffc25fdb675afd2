// Owns a LAME encoder: lame_init on construction, lame_close once.
#pragma once

#include <lame/lame.h>

namespace gogo {

class LameHandle {
public:
	LameHandle() : fFlags(lame_init()) {}
	~LameHandle()
	{
		if (fFlags != nullptr)
			lame_close(fFlags);
	}
	LameHandle(const LameHandle&) = delete;
	LameHandle& operator=(const LameHandle&) = delete;
	// Null when LAME could not allocate one.
	lame_global_flags* Get() const { return fFlags; }

private:
	lame_global_flags* fFlags;
};

} // namespace gogo
