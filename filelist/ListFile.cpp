#include "ListFile.h"

#include <Node.h>
#include <NodeInfo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace listfile {

namespace {

// Links deeper than this are a loop (the kernel's own limit).
constexpr int kMaxLinkDepth = 40;
// Records are gathered into blocks of about this size before writing.
constexpr size_t kWriteBlock = 64 * 1024;

// A file descriptor that closes itself.
class Fd {
public:
	explicit Fd(int fd = -1) : fFd(fd) {}
	~Fd() { Close(); }
	Fd(const Fd&) = delete;
	Fd& operator=(const Fd&) = delete;
	int Get() const { return fFd; }
	bool IsOpen() const { return fFd >= 0; }
	// Closes now and tells whether the close succeeded (a delayed write
	// error may only show here).
	bool Close()
	{
		if (fFd < 0)
			return true;
		int result = ::close(fFd);
		fFd = -1;
		// EINTR after close: the descriptor is gone on Linux, the data was
		// handed over; only a real error counts.
		return result == 0 || errno == EINTR;
	}

private:
	int fFd;
};

bool write_all(int fd, const char* data, size_t size)
{
	while (size > 0) {
		ssize_t written = ::write(fd, data, size);
		if (written < 0) {
			if (errno == EINTR)
				continue;
			return false;
		}
		if (written == 0)
			return false;
		data += written;
		size -= size_t(written);
	}
	return true;
}

// Writes the header and the records, in blocks; each record is put whole
// into the block, however long it is.
bool write_list(int fd, const std::vector<std::string_view>& paths)
{
	std::string block;
	block.reserve(kWriteBlock + 256);
	block.append(kHeader);
	for (std::string_view path : paths) {
		AppendRecord(&block, path);
		if (block.size() >= kWriteBlock) {
			if (!write_all(fd, block.data(), block.size()))
				return false;
			block.clear();
		}
	}
	return write_all(fd, block.data(), block.size());
}

void set_mime_type(const std::string& path)
{
	BNode node(path.c_str());
	BNodeInfo info(&node);
	if (info.InitCheck() == B_OK)
		info.SetType(kMimeType);
}

// The process's umask, read without changing it (umask() would, for a
// moment, for every thread).
mode_t current_umask()
{
	FILE* status = std::fopen("/proc/self/status", "re");
	mode_t mask = 022;
	if (status == nullptr)
		return mask;
	char* line = nullptr;
	size_t size = 0;
	while (getline(&line, &size, status) >= 0) {
		unsigned value = 0;
		if (std::sscanf(line, "Umask: %o", &value) == 1) {
			mask = mode_t(value);
			break;
		}
	}
	std::free(line);
	std::fclose(status);
	return mask;
}

std::string directory_of(const std::string& path)
{
	size_t slash = path.rfind('/');
	if (slash == std::string::npos)
		return ".";
	if (slash == 0)
		return "/";
	return path.substr(0, slash);
}

// Follows the links at path to the entry they finally name, which need not
// exist. False for a loop or an unreadable link.
bool resolve_links(const std::string& path, std::string* resolved)
{
	std::string current = path;
	for (int depth = 0; depth <= kMaxLinkDepth; depth++) {
		struct stat st;
		if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
			*resolved = current;
			return true;
		}
		std::string target(size_t(st.st_size > 0 ? st.st_size : 256), '\0');
		for (;;) {
			ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
			if (length < 0)
				return false;
			if (size_t(length) < target.size()) {
				target.resize(size_t(length));
				break;
			}
			// The link grew since lstat: try again with more room.
			target.resize(target.size() * 2);
		}
		if (!target.empty() && target[0] == '/')
			current = target;
		else
			current = directory_of(current) + "/" + target;
	}
	return false;
}

// The old contents are lost if this fails; it is only used when no
// temporary file can be made beside the target.
WriteResult write_in_place(const std::string& target, const std::vector<std::string_view>& paths)
{
	Fd fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
	if (!fd.IsOpen())
		return WriteResult::kOpenError;
	int flags = ::fcntl(fd.Get(), F_GETFL);
	if (flags >= 0)
		::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
	bool written = write_list(fd.Get(), paths);
	if (!fd.Close() || !written)
		return WriteResult::kWriteError;
	set_mime_type(target);
	return WriteResult::kOk;
}

} // namespace

bool ParseLine(std::string_view line, std::string_view* path)
{
	if (line.empty())
		return false;
	char first = line.front();
	if (first == '\0' || first == '\r' || first == '\n' || first == '#')
		return false;
	size_t semicolon = line.find(';');
	if (semicolon == std::string_view::npos || semicolon + 1 == line.size())
		return false;
	std::string_view rest = line.substr(semicolon + 1);
	if (rest.back() == '\r' || rest.back() == '\n')
		rest.remove_suffix(1);
	size_t nul = rest.find('\0');
	if (nul != std::string_view::npos)
		rest = rest.substr(0, nul);
	*path = rest;
	return true;
}

std::vector<std::string> Parse(std::string_view contents)
{
	Reader reader;
	reader.Feed(contents);
	reader.Finish();
	return std::move(reader.Paths());
}

void Reader::TakeLine(std::string_view line)
{
	std::string_view path;
	if (!ParseLine(line, &path))
		return;
	if (fSink)
		fSink(path);
	else
		fPaths.emplace_back(path);
}

void Reader::Feed(std::string_view bytes)
{
	while (!bytes.empty()) {
		size_t newline = bytes.find('\n');
		if (newline == std::string_view::npos) {
			fPending.append(bytes);
			return;
		}
		std::string_view piece = bytes.substr(0, newline + 1);
		bytes.remove_prefix(newline + 1);
		if (fPending.empty()) {
			TakeLine(piece);
		} else {
			fPending.append(piece);
			TakeLine(fPending);
			fPending.clear();
		}
	}
}

void Reader::Finish()
{
	if (!fPending.empty())
		TakeLine(fPending);
	fPending.clear();
}

void AppendRecord(std::string* out, std::string_view path)
{
	out->append("0;");
	out->append(path);
	out->push_back('\n');
}

std::string Format(const std::vector<std::string>& paths)
{
	size_t size = kHeader.size();
	for (const std::string& path : paths)
		size += path.size() + 3;
	std::string out;
	out.reserve(size);
	out.append(kHeader);
	for (const std::string& path : paths)
		AppendRecord(&out, path);
	return out;
}

namespace {

bool Unchanged(const struct stat& before, const struct stat& after)
{
	return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec
		&& before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ctim.tv_sec == after.st_ctim.tv_sec
		&& before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
}

} // namespace

ReadResult Read(const char* path, std::vector<std::string>* paths)
{
	paths->clear();
	return Read(path, [paths](std::string_view each) { paths->emplace_back(each); });
}

ReadResult Read(const char* path, const std::function<void(std::string_view)>& each)
{
	if (path == nullptr)
		return ReadResult::kOpenError;
	// O_NONBLOCK so that opening a FIFO without a writer does not wait; only
	// a regular file gets read at all.
	Fd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
	if (!fd.IsOpen())
		return ReadResult::kOpenError;
	struct stat st;
	if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
		return ReadResult::kOpenError;
	int flags = ::fcntl(fd.Get(), F_GETFL);
	if (flags >= 0)
		::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);

	// Another program may rewrite the file in place while we read it; then
	// the lines could be half old, half new. The bytes are read first and
	// parsed afterwards, so that the read is short, and a file that changed
	// during it is read again from the start, up to five times. (A file
	// replaced by a rename, as editors and our own save do, cannot mix: the
	// descriptor keeps the old one.)
	std::string contents;
	for (int attempt = 0; attempt < 5; attempt++) {
		if (attempt > 0 && ::lseek(fd.Get(), 0, SEEK_SET) != 0)
			break;
		contents.clear();
		if (st.st_size > 0)
			contents.reserve(size_t(st.st_size));
		char buffer[64 * 1024];
		for (;;) {
			ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
			if (got < 0 && errno == EINTR)
				continue;
			if (got <= 0)
				break;
			contents.append(buffer, size_t(got));
		}
		struct stat after;
		if (::fstat(fd.Get(), &after) != 0 || Unchanged(st, after))
			break;
		st = after;
	}
	Reader reader(each);
	reader.Feed(contents);
	reader.Finish();
	return ReadResult::kOk;
}

WriteResult Write(const char* path, const std::vector<std::string>& paths)
{
	return WriteViews(path, std::vector<std::string_view>(paths.begin(), paths.end()));
}

WriteResult WriteViews(const char* path, const std::vector<std::string_view>& paths)
{
	if (path == nullptr || path[0] == '\0')
		return WriteResult::kOpenError;
	std::string target;
	if (!resolve_links(path, &target))
		return WriteResult::kOpenError;

	struct stat old;
	bool exists = ::stat(target.c_str(), &old) == 0;
	if (exists && S_ISDIR(old.st_mode))
		return WriteResult::kOpenError;
	// Something that is not a plain file (a device, a FIFO) is written to,
	// never replaced by a file.
	if (exists && !S_ISREG(old.st_mode))
		return write_in_place(target, paths);

	std::string temp = directory_of(target) + "/.tamsel-list.XXXXXX";
	Fd fd(::mkostemp(temp.data(), O_CLOEXEC));
	if (!fd.IsOpen()) {
		if (exists)
			return write_in_place(target, paths);
		return WriteResult::kOpenError;
	}

	// The replacement looks like the file it replaces, or like a file made
	// by a plain open: mkostemp's 0600 would hide the list from others.
	if (exists) {
		::fchmod(fd.Get(), old.st_mode & 07777);
		if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) {
			// Only a privileged process may give a file away; the list
			// then belongs to whoever saved it, as a new file would.
		}
	} else {
		::fchmod(fd.Get(), 0666 & ~current_umask());
	}

	bool written = write_list(fd.Get(), paths) && ::fsync(fd.Get()) == 0;
	written = fd.Close() && written;
	if (!written) {
		::unlink(temp.c_str());
		return WriteResult::kWriteError;
	}
	set_mime_type(temp);
	if (::rename(temp.c_str(), target.c_str()) != 0) {
		::unlink(temp.c_str());
		return WriteResult::kOpenError;
	}
	// Makes the new name durable too; nothing to report if it fails.
	Fd directory(::open(directory_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
	if (directory.IsOpen())
		::fsync(directory.Get());
	return WriteResult::kOk;
}

} // namespace listfile
