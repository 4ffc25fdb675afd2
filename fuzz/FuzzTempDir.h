// A private directory for the fuzz targets that need real files: made once
// per process under $TMPDIR (or /tmp), removed with everything in it when
// the process exits normally. Not a fuzz target itself.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace fuzzing {

class TempDir {
public:
	TempDir()
	{
		const char* base = std::getenv("TMPDIR");
		std::string pattern = base != nullptr && base[0] != '\0' ? base : "/tmp";
		pattern += "/tamsel-fuzz-XXXXXX";
		if (mkdtemp(pattern.data()) == nullptr) {
			std::perror("mkdtemp");
			std::abort();
		}
		fPath = pattern;
	}
	~TempDir()
	{
		std::error_code ignored;
		std::filesystem::remove_all(fPath, ignored);
	}
	TempDir(const TempDir&) = delete;
	TempDir& operator=(const TempDir&) = delete;

	const std::string& Path() const { return fPath; }

private:
	std::string fPath;
};

// The process's directory, made on first use.
inline const TempDir& ProcessTempDir()
{
	static const TempDir directory;
	return directory;
}

// Replaces the file at path with exactly these bytes; false on any error.
inline bool WriteFile(const std::string& path, std::string_view bytes)
{
	const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
	if (fd < 0)
		return false;
	bool ok = true;
	while (ok && !bytes.empty()) {
		const ssize_t written = ::write(fd, bytes.data(), bytes.size());
		if (written <= 0)
			ok = false;
		else
			bytes.remove_prefix(size_t(written));
	}
	return ::close(fd) == 0 && ok;
}

} // namespace fuzzing
