#include "PathResolution.h"
#include "PathSplit.h"

#include <StorageDefs.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace BPrivate {

namespace {

// The kernel's own bound on a chain of links (MAXSYMLINKS).
constexpr int kMaxLinks = 40;

status_t current_directory(std::string* cwd)
{
	std::vector<char> buffer(PATH_MAX);
	while (true) {
		if (getcwd(buffer.data(), buffer.size()) != nullptr) {
			*cwd = buffer.data();
			// Linux reports a working directory outside this process's root
			// as "(unreachable)/...": there is no path to build on.
			if (cwd->empty() || (*cwd)[0] != '/')
				return B_ENTRY_NOT_FOUND;
			return B_OK;
		}
		if (errno != ERANGE)
			return status_from_errno(errno);
		if (buffer.size() > (size_t(1) << 24))
			return B_NAME_TOO_LONG;
		buffer.resize(buffer.size() * 2);
	}
}

status_t read_link(const std::string& path, size_t sizeHint, std::string* target)
{
	std::vector<char> buffer(sizeHint + 2 > 256 ? sizeHint + 2 : 256);
	while (true) {
		ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
		if (length < 0)
			return status_from_errno(errno);
		if (size_t(length) < buffer.size()) {
			target->assign(buffer.data(), size_t(length));
			return B_OK;
		}
		// Possibly cut short: the link grew since lstat, try a larger buffer.
		if (buffer.size() > (size_t(1) << 20))
			return B_NAME_TOO_LONG;
		buffer.resize(buffer.size() * 2);
	}
}

} // namespace

status_t make_absolute(std::string_view path, std::string* absolute)
{
	std::string result;
	if (path.empty())
		return B_ENTRY_NOT_FOUND;
	if (path[0] != '/') {
		status_t status = current_directory(&result);
		if (status != B_OK)
			return status;
	}
	size_t position = 0;
	while (position <= path.size()) {
		size_t end = path.find('/', position);
		if (end == std::string_view::npos)
			end = path.size();
		std::string_view component = path.substr(position, end - position);
		position = end + 1;
		if (component.empty() || component == ".")
			continue;
		if (result.empty() || result.back() != '/')
			result += '/';
		result.append(component);
	}
	if (result.empty())
		result = "/";
	*absolute = std::move(result);
	return B_OK;
}

std::string join_path(const std::string& directory, std::string_view leaf)
{
	std::string result = directory;
	if (leaf.empty())
		return result;
	if (result.empty() || result.back() != '/')
		result += '/';
	result.append(leaf);
	return result;
}

status_t canonical_path(const std::string& path, std::string* canonical)
{
	std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
	if (resolved == nullptr)
		return status_from_errno(errno);
	*canonical = resolved.get();
	return B_OK;
}

status_t resolve_entry_path(std::string_view path, bool traverse, std::string* resolved)
{
	std::string current;
	status_t status = make_absolute(path, &current);
	if (status != B_OK)
		return status;

	for (int links = 0;; links++) {
		std::string directory;
		std::string leaf;
		SplitPath(current, directory, leaf);
		if (leaf.empty() || leaf == "." || leaf == "..") {
			// The entry is a directory named by its position: the file
			// system says which one, and that one has a name of its own.
			return canonical_path(current, resolved);
		}
		if (leaf.size() >= B_FILE_NAME_LENGTH)
			return B_NAME_TOO_LONG;

		std::string canonicalDirectory;
		status = canonical_path(directory, &canonicalDirectory);
		if (status != B_OK)
			return status;
		struct stat directoryStat;
		if (stat(canonicalDirectory.c_str(), &directoryStat) != 0)
			return status_from_errno(errno);
		if (!S_ISDIR(directoryStat.st_mode))
			return B_NOT_A_DIRECTORY;

		std::string candidate = join_path(canonicalDirectory, leaf);
		if (!traverse) {
			*resolved = std::move(candidate);
			return B_OK;
		}
		struct stat linkStat;
		if (lstat(candidate.c_str(), &linkStat) != 0 || !S_ISLNK(linkStat.st_mode)) {
			// Nothing there, or not a link: this is the end of the chain.
			*resolved = std::move(candidate);
			return B_OK;
		}
		if (links >= kMaxLinks)
			return B_LINK_LIMIT;
		std::string target;
		status = read_link(candidate, size_t(linkStat.st_size), &target);
		if (status != B_OK)
			return status;
		if (target.empty())
			return B_ENTRY_NOT_FOUND;
		status = make_absolute(
			target[0] == '/' ? target : join_path(canonicalDirectory, target), &current);
		if (status != B_OK)
			return status;
	}
}

bool is_normalized(std::string_view path)
{
	if (path.empty() || path[0] != '/')
		return false;
	if (path == "/")
		return true;
	if (path.back() == '/')
		return false;
	size_t position = 1;
	while (position <= path.size()) {
		size_t end = path.find('/', position);
		if (end == std::string_view::npos)
			end = path.size();
		std::string_view component = path.substr(position, end - position);
		if (component.empty() || component == "." || component == "..")
			return false;
		position = end + 1;
	}
	return true;
}

} // namespace BPrivate
