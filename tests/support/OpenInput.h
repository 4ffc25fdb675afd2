// An input opened as gogo opens it: a descriptor and libsndfile's handle on
// it, and the source a parallel encode reads (segments that read by
// position use the descriptor). Header-only, for the enc_ tests.
#pragma once

#include "InputView.h"
#include "ParallelEncoder.h"

#include <sndfile.h>

#include <cstdint>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gogo_testing {

struct OpenInput {
	int fd = -1;
	SNDFILE* handle = nullptr;
	SF_INFO info{};

	explicit OpenInput(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC))
	{
		if (fd >= 0)
			handle = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
	}
	~OpenInput()
	{
		if (handle != nullptr)
			sf_close(handle);
		if (fd >= 0)
			close(fd);
	}
	OpenInput(const OpenInput&) = delete;
	OpenInput& operator=(const OpenInput&) = delete;

	gogo::ParallelSource Source(bool asFloat = false) const
	{
		struct stat status {};
		fstat(fd, &status);
		return gogo::ParallelSource{handle, asFloat, info.channels, info.samplerate, info.frames,
			info.format, gogo::WholeFile(fd, static_cast<uint64_t>(status.st_size))};
	}
};

} // namespace gogo_testing
