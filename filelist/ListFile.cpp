#include "ListFile.h"

#include <Node.h>
#include <NodeInfo.h>

#include "AtomicFile.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace listfile {

namespace {

// Records are gathered into blocks of about this size before writing.
constexpr size_t kWriteBlock = 64 * 1024;
// A file is read in blocks of this size, kept apart rather than in one
// growing string, which would need twice its size while it moves.
constexpr size_t kReadBlock = 1024 * 1024;

bool write_all(int fd, std::string_view bytes)
{
	const char* data = bytes.data();
	size_t size = bytes.size();
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

// Hands the header and the records to `out` in blocks; each record is put
// whole into the block, however long it is.
template <typename Out>
bool write_list(const std::vector<std::string_view>& paths, Out out)
{
	std::string block;
	block.reserve(kWriteBlock + 256);
	block.append(kHeader);
	for (std::string_view path : paths) {
		AppendRecord(&block, path);
		if (block.size() >= kWriteBlock) {
			if (!out(std::string_view(block)))
				return false;
			block.clear();
		}
	}
	return out(std::string_view(block));
}

// The size of the file Format would make.
size_t list_size(const std::vector<std::string_view>& paths)
{
	size_t size = kHeader.size();
	for (std::string_view path : paths)
		size += path.size() + 3;
	return size;
}

void set_mime_type(const std::string& path)
{
	BNode node(path.c_str());
	BNodeInfo info(&node);
	if (info.InitCheck() == B_OK)
		info.SetType(kMimeType);
}

// A device or a FIFO named as the list is written to as it is.
WriteResult write_to_device(const char* path, const std::vector<std::string_view>& paths)
{
	UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
	if (!fd.IsValid())
		return WriteResult::kOpenError;
	int flags = ::fcntl(fd.Get(), F_GETFL);
	if (flags >= 0)
		::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
	bool written = write_list(paths, [&](std::string_view block) { return write_all(fd.Get(), block); });
	if (fd.Close() != 0 || !written)
		return WriteResult::kWriteError;
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
	if (!ParseLine(line, &path) || path.size() > kMaxPathLength)
		return;
	if (fSink)
		fSink(path);
	else
		fPaths.emplace_back(path);
}

void Reader::Feed(std::string_view bytes)
{
	while (!bytes.empty()) {
		const size_t newline = bytes.find('\n');
		const bool ends = newline != std::string_view::npos;
		// The line with its LF, when it has one here.
		const std::string_view piece = bytes.substr(0, ends ? newline + 1 : bytes.size());
		bytes.remove_prefix(piece.size());
		if (fSkipping) {
			// The rest of a line that was too long.
			fSkipping = !ends;
			continue;
		}
		const size_t length = fPending.size() + piece.size() - (ends ? 1 : 0);
		if (length > kMaxLineLength) {
			fPending.clear();
			fSkipping = !ends;
			continue;
		}
		if (!ends) {
			fPending.append(piece);
		} else if (fPending.empty()) {
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
	if (!fSkipping && !fPending.empty())
		TakeLine(fPending);
	fPending.clear();
	fSkipping = false;
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
	UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
	if (!fd.IsValid())
		return ReadResult::kOpenError;
	struct stat st;
	if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
		return ReadResult::kOpenError;
	if (st.st_size < 0 || uint64_t(st.st_size) > kMaxFileSize)
		return ReadResult::kTooLarge;
	int flags = ::fcntl(fd.Get(), F_GETFL);
	if (flags >= 0)
		::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);

	// Another program may rewrite the file in place while we read it; then
	// the lines could be half old, half new. The bytes are read first and
	// parsed afterwards, so that the read is short, and a file that changed
	// during it is read again from the start, up to fifty times (the blocks
	// are kept from one try to the next, so a try is quick). (A file
	// replaced by a rename, as editors and our own save do, cannot mix: the
	// descriptor keeps the old one.) A file that grows past the bound while
	// it is read is refused like one that was too large from the start.
	std::vector<std::unique_ptr<char[]>> blocks;
	size_t total = 0;
	for (int attempt = 0; attempt < 50; attempt++) {
		if (attempt > 0 && ::lseek(fd.Get(), 0, SEEK_SET) != 0)
			return ReadResult::kOpenError;
		total = 0;
		for (;;) {
			const size_t index = total / kReadBlock;
			if (index == blocks.size()) {
				if (total > kMaxFileSize)
					return ReadResult::kTooLarge;
				std::unique_ptr<char[]> block(new (std::nothrow) char[kReadBlock]);
				if (block == nullptr)
					return ReadResult::kTooLarge;
				blocks.push_back(std::move(block));
			}
			const size_t used = total - index * kReadBlock;
			ssize_t got = ::read(fd.Get(), blocks[index].get() + used, kReadBlock - used);
			if (got < 0 && errno == EINTR)
				continue;
			// A read error part way: the list is not taken from half a file.
			if (got < 0)
				return ReadResult::kOpenError;
			if (got == 0)
				break;
			total += size_t(got);
		}
		if (total > kMaxFileSize)
			return ReadResult::kTooLarge;
		struct stat after;
		if (::fstat(fd.Get(), &after) != 0 || Unchanged(st, after))
			break;
		st = after;
	}
	// Each block goes once it is parsed, while the entries are made.
	Reader reader(each);
	// Blocks past `total` are left from a longer try.
	for (size_t i = 0; i < blocks.size() && i * kReadBlock < total; i++) {
		const size_t size = std::min(kReadBlock, total - i * kReadBlock);
		reader.Feed(std::string_view(blocks[i].get(), size));
		blocks[i].reset();
	}
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
	// Something that is not a plain file (a device, a FIFO) is written to,
	// never replaced by a file.
	struct stat st;
	if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
		return write_to_device(path, paths);

	using BPrivate::AtomicFile;
	AtomicFile file;
	status_t status = file.Open(path, off_t(list_size(paths)), 0666, AtomicFile::Fallback::kInPlace);
	if (status != B_OK) {
		// Opened in place, it was the room for the new list that could not
		// be had: the disk is full, and the old list is as it was.
		return file.InPlace() ? WriteResult::kWriteError : WriteResult::kOpenError;
	}
	// A replacement carries its type when it takes the old one's place; a
	// list rewritten in place gets it once it is whole.
	if (!file.InPlace())
		set_mime_type(file.WorkingPath());
	if (!write_list(paths, [&](std::string_view block) { return file.Write(block) == B_OK; })
		|| file.Commit() != B_OK)
		return WriteResult::kWriteError;
	if (file.InPlace())
		set_mime_type(file.TargetPath());
	return WriteResult::kOk;
}

} // namespace listfile
