#include <MimeType.h>
#include <NodeInfo.h>

#include "XdgPaths.h"
#include "PathSplit.h"

#include <cerrno>
#include <cstring>
#include <fnmatch.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// Written without a type companion, exactly as other freedesktop tools
// write it.
constexpr char kTypeAttribute[] = "user.mime_type";

// The shared MIME database's globs ("weight:type:pattern[:flags]" lines of
// mime/globs2), read again only when one of the files changes, since a
// file manager drop may ask for thousands of files at once.
struct Glob {
	int weight;
	std::string type;
	std::string pattern;
	bool caseSensitive;
};

class GlobTable {
public:
	// The type whose glob matches the leaf name best; empty when none does.
	std::string Lookup(const std::string& leaf)
	{
		std::lock_guard lock(fLock);
		Refresh();
		const Glob* best = nullptr;
		for (const Glob& glob : fGlobs) {
			const int flags = glob.caseSensitive ? 0 : FNM_CASEFOLD;
			if (fnmatch(glob.pattern.c_str(), leaf.c_str(), flags) != 0)
				continue;
			if (best == nullptr || glob.weight > best->weight
				|| (glob.weight == best->weight && glob.pattern.size() > best->pattern.size()))
				best = &glob;
		}
		return best != nullptr ? best->type : std::string();
	}

private:
	void Refresh()
	{
		std::vector<std::string> files;
		const std::string home = BPrivate::xdg_data_home();
		if (!home.empty())
			files.push_back(home + "/mime/globs2");
		for (const std::string& dir : BPrivate::xdg_data_dirs())
			files.push_back(dir + "/mime/globs2");
		std::string stamp;
		for (const std::string& file : files) {
			struct stat info;
			stamp += file;
			if (stat(file.c_str(), &info) == 0)
				stamp += ":" + std::to_string(info.st_mtim.tv_sec) + "."
					+ std::to_string(info.st_mtim.tv_nsec) + ":" + std::to_string(info.st_size);
			stamp += ";";
		}
		if (stamp == fStamp)
			return;
		fStamp = stamp;
		fGlobs.clear();
		for (const std::string& file : files) {
			std::string contents;
			if (!BPrivate::read_whole_file(file, &contents))
				continue;
			std::istringstream lines(contents);
			std::string line;
			while (std::getline(lines, line)) {
				if (line.empty() || line[0] == '#')
					continue;
				std::vector<std::string> fields;
				std::istringstream parts(line);
				std::string field;
				while (std::getline(parts, field, ':'))
					fields.push_back(field);
				if (fields.size() < 3)
					continue;
				Glob glob;
				glob.weight = std::atoi(fields[0].c_str());
				glob.type = fields[1];
				glob.pattern = fields[2];
				glob.caseSensitive = fields.size() > 3 && fields[3].find("cs") != std::string::npos;
				fGlobs.push_back(std::move(glob));
			}
		}
	}

	std::mutex fLock;
	std::string fStamp;
	std::vector<Glob> fGlobs;
};

GlobTable& Globs()
{
	static GlobTable table;
	return table;
}

// The leaf name of an open node, from the file descriptor's link in /proc.
std::string LeafOf(int fd)
{
	const std::string link = "/proc/self/fd/" + std::to_string(fd);
	std::string path(4096, '\0');
	const ssize_t length = readlink(link.c_str(), path.data(), path.size());
	if (length <= 0)
		return {};
	path.resize(size_t(length));
	return std::string(SplitPathView(path).leaf);
}

} // namespace

BNodeInfo::BNodeInfo(BNode* node)
{
	SetTo(node);
}

status_t BNodeInfo::SetTo(BNode* node)
{
	fNode = nullptr;
	if (node == nullptr)
		return B_BAD_VALUE;
	if (node->InitCheck() != B_OK)
		return node->InitCheck();
	fNode = node;
	return B_OK;
}

status_t BNodeInfo::InitCheck() const
{
	if (fNode == nullptr)
		return B_NO_INIT;
	return fNode->InitCheck();
}

status_t BNodeInfo::GetType(char* type) const
{
	if (type == nullptr)
		return B_BAD_VALUE;
	type[0] = '\0';
	status_t status = InitCheck();
	if (status != B_OK)
		return status;
	ssize_t length = fNode->ReadAttr("mime_type", B_MIME_STRING_TYPE, 0, type,
		B_MIME_TYPE_LENGTH - 1);
	if (length == B_ENTRY_NOT_FOUND || length == B_NOT_SUPPORTED) {
		// No type of its own: the shared MIME database's answer from the
		// file's name, as a file manager would give it.
		const std::string guess = Globs().Lookup(LeafOf(fNode->FileDescriptor()));
		if (guess.empty() || guess.size() >= B_MIME_TYPE_LENGTH)
			return B_ENTRY_NOT_FOUND;
		std::memcpy(type, guess.c_str(), guess.size() + 1);
		return B_OK;
	}
	if (length < 0)
		return status_t(length);
	type[length] = '\0';
	// Some writers include the terminator; the type ends at the first NUL.
	if (std::strlen(type) == 0)
		return B_ENTRY_NOT_FOUND;
	return B_OK;
}

status_t BNodeInfo::SetType(const char* type)
{
	status_t status = InitCheck();
	if (status != B_OK)
		return status;
	int fd = fNode->FileDescriptor();
	if (type == nullptr) {
		if (fremovexattr(fd, kTypeAttribute) != 0 && errno != ENODATA)
			return status_from_errno(errno);
		return B_OK;
	}
	if (!BMimeType::IsValid(type))
		return B_BAD_VALUE;
	if (fsetxattr(fd, kTypeAttribute, type, std::strlen(type), 0) != 0)
		return status_from_errno(errno);
	return B_OK;
}
