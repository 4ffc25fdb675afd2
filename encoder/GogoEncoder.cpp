#include "GogoEncoder.h"

#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace gogo {

// ---- paths -----------------------------------------------------------------

void SplitPath(const std::string& path, std::string& directory, std::string& name)
{
	const size_t slash = path.rfind('/');
	if (slash == std::string::npos) {
		directory.clear();
		name = path;
		return;
	}
	name = path.substr(slash + 1);
	// Drop the separating slashes, but keep a root ("/x" -> "/", "//x" -> "/").
	size_t end = slash;
	while (end > 0 && path[end - 1] == '/')
		end--;
	directory = end == 0 ? std::string("/") : path.substr(0, end);
}

std::string OutputFileName(const std::string& inputName)
{
	const size_t dot = inputName.rfind('.');
	// A leading dot starts a hidden name, not an extension.
	if (dot == std::string::npos || dot == 0)
		return inputName + ".mp3";
	return inputName.substr(0, dot) + ".mp3";
}

namespace {

std::string JoinPath(const std::string& directory, const std::string& name)
{
	if (directory.empty())
		return name;
	if (directory.back() == '/')
		return directory + name;
	return directory + "/" + name;
}

} // namespace

std::string OutputPath(const Options& options)
{
	std::string directory, name;
	SplitPath(options.input, directory, name);
	if (options.hasOutputDirectory)
		directory = options.outputDirectory;
	return JoinPath(directory, OutputFileName(name));
}

std::string QuotePath(const std::string& path)
{
	static const char kHex[] = "0123456789abcdef";
	std::string result = "'";
	for (char ch : path) {
		const unsigned char c = static_cast<unsigned char>(ch);
		if (c < 0x20 || c == 0x7f) {
			result += "\\x";
			result += kHex[c >> 4];
			result += kHex[c & 0xf];
		} else {
			result += ch;
		}
	}
	result += "'";
	return result;
}

// ---- signal cleanup ----------------------------------------------------------

namespace {

// The temporary files being written: a directory descriptor and a name in
// it, both prepared before the file is created, read by the signal handler.
struct TempSlot {
	std::atomic<int> directory{-1};
	std::atomic<const char*> name{nullptr};
};
constexpr int kTempSlots = 16;
TempSlot sTempSlots[kTempSlots];

extern "C" void CleanupAndExit(int signalNumber)
{
	for (TempSlot& slot : sTempSlots) {
		const char* name = slot.name.load();
		if (name != nullptr)
			unlinkat(slot.directory.load(), name, 0);
	}
	_exit(128 + signalNumber);
}

// Blocks the cleanup signals for the scope, so that registering a temporary
// file and creating it (or renaming and unregistering it) are atomic as far
// as the handler is concerned.
class SignalBlock {
public:
	SignalBlock()
	{
		sigset_t set;
		sigemptyset(&set);
		sigaddset(&set, SIGTERM);
		sigaddset(&set, SIGINT);
		sigaddset(&set, SIGHUP);
		fBlocked = pthread_sigmask(SIG_BLOCK, &set, &fPrevious) == 0;
	}
	~SignalBlock()
	{
		if (fBlocked)
			pthread_sigmask(SIG_SETMASK, &fPrevious, nullptr);
	}
	SignalBlock(const SignalBlock&) = delete;
	SignalBlock& operator=(const SignalBlock&) = delete;

private:
	sigset_t fPrevious;
	bool fBlocked = false;
};

int RegisterTemp(int directory, const char* name)
{
	for (int i = 0; i < kTempSlots; i++) {
		const char* expected = nullptr;
		// Claim the slot with a placeholder first, so that the handler never
		// pairs a name with another slot's directory.
		static const char kClaimed[] = "";
		if (sTempSlots[i].name.compare_exchange_strong(expected, kClaimed)) {
			sTempSlots[i].directory.store(directory);
			sTempSlots[i].name.store(name);
			return i;
		}
	}
	return -1; // too many at once: no cleanup on a signal for this one
}

void UnregisterTemp(int slot)
{
	if (slot < 0)
		return;
	sTempSlots[slot].name.store(nullptr);
	sTempSlots[slot].directory.store(-1);
}

} // namespace

void InstallSignalCleanup()
{
	struct sigaction action;
	std::memset(&action, 0, sizeof(action));
	action.sa_handler = CleanupAndExit;
	sigfillset(&action.sa_mask);
	sigaction(SIGTERM, &action, nullptr);
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGHUP, &action, nullptr);

	struct sigaction ignore;
	std::memset(&ignore, 0, sizeof(ignore));
	ignore.sa_handler = SIG_IGN;
	sigemptyset(&ignore.sa_mask);
	sigaction(SIGPIPE, &ignore, nullptr);
}

// ---- file helpers ------------------------------------------------------------

namespace {

std::string ErrnoText(int error)
{
	return std::strerror(error);
}

class FileDescriptor {
public:
	FileDescriptor() = default;
	explicit FileDescriptor(int fd) : fFd(fd) {}
	~FileDescriptor() { Reset(); }
	FileDescriptor(const FileDescriptor&) = delete;
	FileDescriptor& operator=(const FileDescriptor&) = delete;
	int Get() const { return fFd; }
	void Reset(int fd = -1)
	{
		if (fFd >= 0)
			close(fFd);
		fFd = fd;
	}
	// Closes, returning 0 or the error.
	int Close()
	{
		if (fFd < 0)
			return 0;
		const int result = close(fFd);
		fFd = -1;
		return result == 0 || errno == EINTR ? 0 : errno;
	}

private:
	int fFd = -1;
};

// Opens a directory by walking its path one component at a time, so that
// any length works; with create, missing components are made (mkdir -p),
// each new one's entry synced in its parent, and syncError gets the first
// error of those syncs (or stays 0). Returns the descriptor, or -1 with
// errno set.
int OpenDirectory(const std::string& path, bool create, int* syncError = nullptr)
{
	const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
	int current;
	size_t position = 0;
	if (!path.empty() && path[0] == '/') {
		current = open("/", flags);
		position = 1;
	} else {
		current = open(".", flags);
	}
	if (current < 0)
		return -1;

	while (position < path.size()) {
		size_t end = path.find('/', position);
		if (end == std::string::npos)
			end = path.size();
		const std::string component = path.substr(position, end - position);
		position = end + 1;
		if (component.empty() || component == ".")
			continue;

		int next = openat(current, component.c_str(), flags);
		if (next < 0 && errno == ENOENT && create) {
			if (mkdirat(current, component.c_str(), 0777) == 0) {
				// An MP3 in a directory whose own entry is lost in a crash is
				// lost with it.
				if (fsync(current) != 0 && syncError != nullptr && *syncError == 0)
					*syncError = errno;
			} else if (errno != EEXIST) {
				const int error = errno;
				close(current);
				errno = error;
				return -1;
			}
			next = openat(current, component.c_str(), flags);
		}
		const int error = errno;
		close(current);
		if (next < 0) {
			errno = error;
			return -1;
		}
		current = next;
	}
	return current;
}

// Writes all of data, at the file's position or, with an offset, there.
bool WriteAll(int fd, const unsigned char* data, size_t size, int& error, off_t offset = -1)
{
	while (size > 0) {
		const ssize_t written
			= offset < 0 ? write(fd, data, size) : pwrite(fd, data, size, offset);
		if (written < 0) {
			if (errno == EINTR)
				continue;
			error = errno;
			return false;
		}
		if (written == 0) {
			error = EIO;
			return false;
		}
		data += written;
		size -= static_cast<size_t>(written);
		if (offset >= 0)
			offset += written;
	}
	return true;
}

// Six characters for a temporary name, different in each call.
std::string RandomSuffix()
{
	static const char kChars[] =
		"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
	static std::atomic<uint64_t> counter{0};
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	uint64_t state = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20)
		^ (static_cast<uint64_t>(getpid()) << 40) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
	std::string suffix;
	for (int i = 0; i < 6; i++) {
		// splitmix64 step
		state += 0x9E3779B97F4A7C15ull;
		uint64_t z = state;
		z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
		z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
		z ^= z >> 31;
		suffix += kChars[z % (sizeof(kChars) - 1)];
	}
	return suffix;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
	return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The errors of a call that the file system does not support, as opposed
// to one that failed.
bool RenameFlagsUnsupported(int error)
{
	return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

bool HardLinksUnsupported(int error)
{
	return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// Beyond errno's codes: with replace, the output name is the input file.
constexpr int kIsTheInput = -1;

// The highest n tried for "<name> (n).mp3".
constexpr int kMaxNameNumber = 9999;

// The n-th choice of name for an output: "x.mp3", then "x (2).mp3"...
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

// A temporary file being written in a directory; removed unless committed.
class TempFile {
public:
	TempFile(int directory, const Options::WriteFallbacks& fallbacks)
		:
		fDirectory(directory),
		fFallbacks(fallbacks)
	{
	}
	~TempFile() { Discard(); }
	TempFile(const TempFile&) = delete;
	TempFile& operator=(const TempFile&) = delete;

	// Creates the file without a name where the file system can, so that
	// it goes with the process however that ends, and as
	// ".<finalName>.XXXXXX" otherwise (shortened when too long for the file
	// system). Returns 0 or the error.
	int Create(const std::string& finalName, long nameMax)
	{
		fNameMax = nameMax;
		// The nameless file gets its name through /proc at the end, as a
		// hard link.
		if (!fFallbacks.noTmpFile && !fFallbacks.noHardLinks && access("/proc/self/fd", X_OK) == 0) {
			const int fd = openat(fDirectory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
			if (fd >= 0) {
				fFd.Reset(fd);
				fNameless = true;
				return 0;
			}
		}
		const std::string stem = Stem(finalName);
		int error = EEXIST;
		for (int attempt = 0; attempt < 100; attempt++) {
			std::string name = stem + "." + RandomSuffix();
			SignalBlock block;
			fName = std::move(name);
			fSlot = RegisterTemp(fDirectory, fName.c_str());
			const int fd = openat(fDirectory, fName.c_str(),
				O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
			if (fd >= 0) {
				fFd.Reset(fd);
				if (fstat(fd, &fIdentity) != 0)
					std::memset(&fIdentity, 0, sizeof(fIdentity));
				return 0;
			}
			error = errno;
			Forget();
			if (error != EEXIST)
				break;
		}
		return error;
	}

	int Fd() const { return fFd.Get(); }
	const std::string& Name() const { return fName; }

	// Syncs and closes; returns 0 or the error. synced tells whether the
	// data reached the disk (false where the file system cannot sync).
	int Finish(bool& synced)
	{
		synced = false;
		if (fsync(fFd.Get()) == 0)
			synced = true;
		else if (errno != EINVAL && errno != EROFS)
			return errno;
		// A nameless file is closed once it has its name.
		return fNameless ? 0 : fFd.Close();
	}

	// Gives the finished file its name. With replace it is renamed over
	// finalName, unless that is the file `input`. Otherwise it takes the
	// first free name of finalName, "<stem> (2).mp3", "<stem> (3).mp3"...
	// without ever replacing a file, whoever else is naming files there at
	// the same moment. name gets the name taken, or the last one tried.
	// Returns 0 or the error: EEXIST when every name is taken,
	// ENAMETOOLONG when a numbered name is too long, kIsTheInput.
	int Commit(const std::string& finalName, bool replace, const struct stat& input,
		std::string& name)
	{
		if (replace) {
			name = finalName;
			return Replace(finalName, input);
		}
		for (int number = 1; number <= kMaxNameNumber; number++) {
			name = NumberedName(finalName, number);
			if (fNameMax > 0 && name.size() > static_cast<size_t>(fNameMax))
				return ENAMETOOLONG;
			const int error = fNameless ? LinkNameless(name) : MoveNoReplace(name);
			if (error != EEXIST)
				return error;
		}
		return EEXIST;
	}

	void Discard()
	{
		fFd.Reset();
		if (fName.empty())
			return;
		SignalBlock block;
		unlinkat(fDirectory, fName.c_str(), 0);
		Forget();
	}

private:
	// ".<finalName>", shortened so that the random suffix still fits.
	std::string Stem(const std::string& finalName) const
	{
		std::string stem = "." + finalName;
		const size_t suffixLength = 7; // ".XXXXXX"
		if (fNameMax > 0 && stem.size() + suffixLength > static_cast<size_t>(fNameMax))
			stem.resize(static_cast<size_t>(fNameMax) > suffixLength ? fNameMax - suffixLength : 1);
		return stem;
	}

	std::string SelfPath() const { return "/proc/self/fd/" + std::to_string(fFd.Get()); }

	// The temporary name is no longer the file's (or never was); the
	// caller blocks the signals.
	void Forget()
	{
		UnregisterTemp(fSlot);
		fSlot = -1;
		fName.clear();
	}

	// A link fails where a name exists, whatever it names: the nameless
	// file appears under its final name complete, or not at all.
	int LinkNameless(const std::string& name)
	{
		if (linkat(AT_FDCWD, SelfPath().c_str(), fDirectory, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
			return errno;
		fNameless = false;
		fFd.Reset(); // synced already: nothing to learn from close
		return 0;
	}

	// The named temporary file to name, never replacing what is there: the
	// signals wait meanwhile, so that the handler finds the temporary file
	// registered exactly while it has its temporary name.
	int MoveNoReplace(const std::string& name)
	{
		SignalBlock block;
		if (!fFallbacks.noRenameNoReplace && fRenameNoReplace) {
			if (renameat2(fDirectory, fName.c_str(), fDirectory, name.c_str(), RENAME_NOREPLACE) == 0) {
				Forget();
				return 0;
			}
			const int error = errno;
			if (!RenameFlagsUnsupported(error))
				return error;
			fRenameNoReplace = false; // as NFS: links are the next best thing
		}
		if (!fFallbacks.noHardLinks && fHardLinks) {
			int error = linkat(fDirectory, fName.c_str(), fDirectory, name.c_str(), 0) == 0 ? 0 : errno;
			// Over NFS a link whose reply was lost is retried, and the retry
			// finds the name: the file's own.
			struct stat there;
			if (error == EEXIST && fstatat(fDirectory, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0
					&& fIdentity.st_ino != 0 && SameFile(there, fIdentity)) {
				error = 0;
			}
			if (error == 0) {
				unlinkat(fDirectory, fName.c_str(), 0);
				Forget();
				return 0;
			}
			if (!HardLinksUnsupported(error))
				return error;
			fHardLinks = false; // as vfat
		}
		return MoveOverPlaceholder(name);
	}

	// Neither flag nor links: the name is claimed with an empty file made
	// with O_EXCL, which the rename then replaces. It is checked to be
	// still that empty file just before; the signals wait throughout.
	int MoveOverPlaceholder(const std::string& name)
	{
		const int fd = openat(fDirectory, name.c_str(),
			O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
		if (fd < 0)
			return errno;
		struct stat own;
		const bool known = fstat(fd, &own) == 0;
		close(fd);
		struct stat there;
		if (!known || fstatat(fDirectory, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0
				|| !SameFile(there, own) || there.st_size != 0) {
			// Someone else's now: leave it be.
			return EEXIST;
		}
		if (renameat(fDirectory, fName.c_str(), fDirectory, name.c_str()) != 0) {
			const int error = errno;
			unlinkat(fDirectory, name.c_str(), 0);
			return error;
		}
		Forget();
		return 0;
	}

	// Renames over finalName; a nameless file is first linked in under a
	// temporary name, as rename cannot take it.
	int Replace(const std::string& finalName, const struct stat& input)
	{
		if (fNameless) {
			const std::string self = SelfPath();
			int error = EEXIST;
			for (int attempt = 0; attempt < 100 && error == EEXIST; attempt++) {
				SignalBlock block;
				fName = Stem(finalName) + "." + RandomSuffix();
				fSlot = RegisterTemp(fDirectory, fName.c_str());
				error = linkat(AT_FDCWD, self.c_str(), fDirectory, fName.c_str(), AT_SYMLINK_FOLLOW) == 0
					? 0 : errno;
				if (error != 0)
					Forget();
			}
			if (error != 0)
				return error;
			fNameless = false;
			fFd.Reset();
		}
		SignalBlock block;
		struct stat existing;
		if (fstatat(fDirectory, finalName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
				&& SameFile(existing, input)) {
			return kIsTheInput;
		}
		if (renameat(fDirectory, fName.c_str(), fDirectory, finalName.c_str()) != 0)
			return errno;
		Forget();
		return 0;
	}

	int fDirectory;
	Options::WriteFallbacks fFallbacks;
	FileDescriptor fFd;
	std::string fName;
	int fSlot = -1;
	long fNameMax = 0;
	bool fNameless = false;
	struct stat fIdentity {};     // of the named temporary file
	bool fRenameNoReplace = true; // false once the file system refused the flag
	bool fHardLinks = true;       // false once it refused a link
};

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
	lame_global_flags* Get() const { return fFlags; }

private:
	lame_global_flags* fFlags;
};

class SoundFile {
public:
	SoundFile() = default;
	~SoundFile()
	{
		if (fFile != nullptr)
			sf_close(fFile);
	}
	SoundFile(const SoundFile&) = delete;
	SoundFile& operator=(const SoundFile&) = delete;
	bool Open(int fd)
	{
		std::memset(&fInfo, 0, sizeof(fInfo));
		fFile = sf_open_fd(fd, SFM_READ, &fInfo, SF_FALSE);
		return fFile != nullptr;
	}
	SNDFILE* Get() const { return fFile; }
	const SF_INFO& Info() const { return fInfo; }

private:
	SNDFILE* fFile = nullptr;
	SF_INFO fInfo;
};

// One line from libsndfile's error text.
std::string OneLine(const char* text)
{
	std::string line = text != nullptr ? text : "";
	for (char& c : line) {
		if (c == '\n' || c == '\r' || c == '\t')
			c = ' ';
	}
	while (!line.empty() && (line.back() == ' ' || line.back() == '.'))
		line.pop_back();
	return line;
}

std::string LameError(int code)
{
	switch (code) {
	case -1: return "LAME's output buffer was too small";
	case -2: return "LAME ran out of memory";
	case -3: return "LAME was not initialized";
	case -4: return "LAME's psychoacoustic model failed";
	default: return "LAME failed (error " + std::to_string(code) + ")";
	}
}

bool ReadsAsFloat(int format)
{
	switch (format & SF_FORMAT_SUBMASK) {
	case SF_FORMAT_FLOAT:
	case SF_FORMAT_DOUBLE:
	case SF_FORMAT_VORBIS:
	case SF_FORMAT_OPUS:
	case SF_FORMAT_MPEG_LAYER_I:
	case SF_FORMAT_MPEG_LAYER_II:
	case SF_FORMAT_MPEG_LAYER_III:
		return true;
	default:
		return false;
	}
}

// Frames read and encoded at a time: 64k, or about a second's worth for
// low sample rates (which LAME may resample upwards, so that a block's MP3
// is bounded by its duration more than by its sample count).
sf_count_t BlockFrames(int sampleRate)
{
	constexpr sf_count_t kMaxBlock = 65536, kMinBlock = 1024;
	if (sampleRate >= 32000)
		return kMaxBlock;
	return std::max<sf_count_t>(kMinBlock, sampleRate);
}

constexpr int kMinSampleRate = 1000;

// Float samples as LAME can take them: a NaN becomes silence, and anything
// beyond full scale (infinities included) is clipped to it. LAME aborts the
// process on a NaN or an infinity, and a sample past full scale clips in
// every player anyway; samples within full scale are left exactly as read.
void ClipFloatSamples(float* samples, size_t count)
{
	for (size_t i = 0; i < count; i++) {
		const float sample = samples[i];
		samples[i] = sample != sample ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
	}
}

// Reads the input a block ahead of the encoder, on a second thread, so that
// reading and converting the samples overlaps encoding them. Reads in the
// caller's thread instead when no thread can be started.
class BlockReader {
public:
	BlockReader(SNDFILE* file, bool asFloat, int channels, sf_count_t blockFrames)
		:
		fFile(file),
		fAsFloat(asFloat),
		fChannels(static_cast<size_t>(channels)),
		fSamples(static_cast<size_t>(blockFrames) * static_cast<size_t>(channels)),
		fBlockFrames(blockFrames)
	{
	}

	~BlockReader()
	{
		if (!fThread.joinable())
			return;
		{
			std::lock_guard<std::mutex> lock(fLock);
			fStop = true;
		}
		fChanged.notify_all();
		fThread.join();
	}

	BlockReader(const BlockReader&) = delete;
	BlockReader& operator=(const BlockReader&) = delete;

	// Allocates the buffers and starts the reading; false when out of memory.
	bool Start()
	{
		try {
			for (Slot& slot : fSlots) {
				if (fAsFloat)
					slot.floats.resize(fSamples);
				else
					slot.ints.resize(fSamples);
			}
		} catch (const std::bad_alloc&) {
			return false;
		}
		try {
			// The thread starts with the cleanup signals blocked (it inherits
			// the mask), so that they always reach the encoding thread.
			SignalBlock block;
			fThread = std::thread(&BlockReader::Run, this);
		} catch (...) {
			// No thread: Next() reads.
		}
		return true;
	}

	// The next block's frames: > 0, 0 at the end, -1 on a read error
	// (Error() says which). The block stays valid until the next call.
	sf_count_t Next(const float*& floats, const int*& ints)
	{
		if (!fThread.joinable()) {
			Slot& slot = fSlots[0];
			slot.frames = Read(slot);
			floats = slot.floats.data();
			ints = slot.ints.data();
			return slot.frames;
		}
		std::unique_lock<std::mutex> lock(fLock);
		if (fHolding) {
			// Give back the block of the previous call.
			fHolding = false;
			fFilled--;
			fReadIndex = (fReadIndex + 1) % kSlots;
			fChanged.notify_all();
		}
		fChanged.wait(lock, [this] { return fFilled > 0; });
		fHolding = true;
		const Slot& slot = fSlots[fReadIndex];
		floats = slot.floats.data();
		ints = slot.ints.data();
		return slot.frames;
	}

	std::string Error()
	{
		std::lock_guard<std::mutex> lock(fLock);
		return fError;
	}

private:
	struct Slot {
		std::vector<float> floats;
		std::vector<int> ints;
		sf_count_t frames = 0;
	};
	static constexpr int kSlots = 3;

	sf_count_t Read(Slot& slot)
	{
		const sf_count_t got = fAsFloat ? sf_readf_float(fFile, slot.floats.data(), fBlockFrames)
			: sf_readf_int(fFile, slot.ints.data(), fBlockFrames);
		if (got > 0) {
			if (fAsFloat)
				ClipFloatSamples(slot.floats.data(), static_cast<size_t>(got) * fChannels);
			return got;
		}
		if (sf_error(fFile) != SF_ERR_NO_ERROR) {
			const char* text = sf_strerror(fFile);
			std::lock_guard<std::mutex> lock(fLock);
			fError = text != nullptr ? text : "read error";
			return -1;
		}
		return 0;
	}

	void Run()
	{
		while (true) {
			int index;
			{
				std::unique_lock<std::mutex> lock(fLock);
				fChanged.wait(lock, [this] { return fStop || fFilled < kSlots; });
				if (fStop)
					return;
				index = fWriteIndex;
			}
			Slot& slot = fSlots[index];
			slot.frames = Read(slot);
			{
				std::lock_guard<std::mutex> lock(fLock);
				fWriteIndex = (fWriteIndex + 1) % kSlots;
				fFilled++;
			}
			fChanged.notify_all();
			if (slot.frames <= 0)
				return; // the end, or an error: the encoder sees it in this slot
		}
	}

	SNDFILE* fFile;
	bool fAsFloat;
	size_t fChannels;
	size_t fSamples;
	sf_count_t fBlockFrames;
	Slot fSlots[kSlots];
	std::mutex fLock;
	std::condition_variable fChanged;
	int fFilled = 0;     // slots read and not yet given back (the held one included)
	int fReadIndex = 0;  // the consumer's next (or held) slot
	int fWriteIndex = 0; // the reader's next slot
	bool fHolding = false;
	bool fStop = false;
	std::string fError;
	std::thread fThread;
};

// ---- the input's declared length ------------------------------------------------

// What the input's header says its length is. libsndfile takes the smaller
// of that and what the file holds, which hides a truncated file and one
// still being recorded, so the headers of the formats it does that for are
// read here.
struct DeclaredLength {
	bool read = false;       // the header is one of those read here
	bool compressed = false; // of WAV data whose length in frames cannot be told
	bool known = false;      // it gives the length (a header still being written may not)
	int64_t frames = 0;
};

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, uint64_t offset, unsigned char* data, size_t size)
{
	while (size > 0) {
		if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
			return false;
		const ssize_t got = pread(fd, data, size, static_cast<off_t>(offset));
		if (got < 0 && errno == EINTR)
			continue;
		if (got <= 0)
			return false;
		data += got;
		size -= static_cast<size_t>(got);
		offset += static_cast<uint64_t>(got);
	}
	return true;
}

uint64_t Unsigned(const unsigned char* bytes, int count, bool bigEndian)
{
	uint64_t value = 0;
	for (int i = 0; i < count; i++) {
		const int index = bigEndian ? i : count - 1 - i;
		value = (value << 8) | bytes[index];
	}
	return value;
}

// A walk over chunks stops after this many, whatever the file says.
constexpr int kMaxChunks = 4096;

// The WAVE format codes whose frames are the data's size over the block
// alignment.
bool IsPlainWaveFormat(uint64_t code)
{
	return code == 1 || code == 3 || code == 6 || code == 7; // PCM, float, A-law, mu-law
}

// WAV (RIFF, RIFX), RF64 and BW64: the data chunk's size in frames. Not for
// compressed data, whose fact chunk cannot be trusted (libsndfile's own IMA
// ADPCM files give half the frames it reads back).
DeclaredLength RiffLength(int fd, uint64_t fileSize)
{
	DeclaredLength result;
	unsigned char head[12];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head + 8, "WAVE", 4) != 0)
		return result;
	const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0;
	const bool sixtyFour = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
	if (!bigEndian && !sixtyFour && std::memcmp(head, "RIFF", 4) != 0)
		return result;
	result.read = true;

	uint64_t format = 0, blockAlign = 0, longDataSize = 0;
	bool haveFormat = false, haveLongSize = false;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return result;
		const uint64_t size = Unsigned(header + 4, 4, bigEndian);
		const uint64_t body = offset + 8;
		unsigned char fields[40];
		if (std::memcmp(header, "ds64", 4) == 0 && size >= 24) {
			if (!ReadAt(fd, body, fields, 24))
				return result;
			longDataSize = Unsigned(fields + 8, 8, false);
			haveLongSize = true;
		} else if (std::memcmp(header, "fmt ", 4) == 0 && size >= 16) {
			const size_t length = size >= 40 ? 40 : 16;
			if (!ReadAt(fd, body, fields, length))
				return result;
			format = Unsigned(fields, 2, bigEndian);
			blockAlign = Unsigned(fields + 12, 2, bigEndian);
			// WAVE_FORMAT_EXTENSIBLE: the format is the sub-format GUID's first field.
			if (format == 0xfffe && length == 40)
				format = Unsigned(fields + 24, 2, bigEndian);
			haveFormat = true;
		} else if (std::memcmp(header, "data", 4) == 0) {
			uint64_t dataSize = size;
			if (sixtyFour && size == 0xffffffff) {
				if (!haveLongSize)
					return result;
				dataSize = longDataSize;
			} else if (size == 0xffffffff) {
				return result; // a recorder's mark for "not known yet"
			}
			// A size of 0 is how recorders leave a header they fill in at the
			// end (libsndfile then takes the file's length).
			if (dataSize == 0 || !haveFormat)
				return result;
			if (!IsPlainWaveFormat(format)) {
				result.compressed = true;
			} else if (blockAlign > 0) {
				result.frames = static_cast<int64_t>(dataSize / blockAlign);
				result.known = true;
			}
			return result;
		}
		offset = body + size + (size & 1);
	}
	return result;
}

// Sony Wave64: chunks named by GUIDs, sizes of 64 bits that count the
// chunk's own 24-byte header, each chunk aligned to 8 bytes.
DeclaredLength Wave64Length(int fd, uint64_t fileSize)
{
	// The GUID of "fmt " and "data" after their four letters.
	static const unsigned char kTail[12] = {0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1, 0x00, 0xc0, 0x4f,
		0x8e, 0xdb, 0x8a};
	static const unsigned char kRiff[16] = {'r', 'i', 'f', 'f', 0x2e, 0x91, 0xcf, 0x11, 0xa5, 0xd6,
		0x28, 0xdb, 0x04, 0xc1, 0x00, 0x00};
	static const unsigned char kWave[16] = {'w', 'a', 'v', 'e', 0xf3, 0xac, 0xd3, 0x11, 0x8c, 0xd1,
		0x00, 0xc0, 0x4f, 0x8e, 0xdb, 0x8a};
	DeclaredLength result;
	unsigned char head[40];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, kRiff, 16) != 0
			|| std::memcmp(head + 24, kWave, 16) != 0) {
		return result;
	}
	result.read = true;

	uint64_t format = 0, blockAlign = 0;
	bool haveFormat = false;
	uint64_t offset = 40;
	for (int chunk = 0; chunk < kMaxChunks && offset + 24 <= fileSize; chunk++) {
		unsigned char header[24];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return result;
		const uint64_t size = Unsigned(header + 16, 8, false);
		if (size < 24)
			return result;
		const bool known = std::memcmp(header + 4, kTail, sizeof(kTail)) == 0;
		const uint64_t body = offset + 24;
		unsigned char fields[16];
		if (known && std::memcmp(header, "fmt ", 4) == 0 && size >= 24 + 16) {
			if (!ReadAt(fd, body, fields, 16))
				return result;
			format = Unsigned(fields, 2, false);
			blockAlign = Unsigned(fields + 12, 2, false);
			haveFormat = true;
		} else if (known && std::memcmp(header, "data", 4) == 0) {
			const uint64_t dataSize = size - 24;
			if (dataSize == 0 || !haveFormat)
				return result;
			if (!IsPlainWaveFormat(format)) {
				result.compressed = true;
			} else if (blockAlign > 0) {
				result.frames = static_cast<int64_t>(dataSize / blockAlign);
				result.known = true;
			}
			return result;
		}
		if (size > fileSize)
			return result;
		offset += (size + 7) & ~uint64_t{7};
	}
	return result;
}

// AIFF and AIFF-C: the frame count of the COMM chunk.
DeclaredLength AiffLength(int fd, uint64_t fileSize)
{
	DeclaredLength result;
	unsigned char head[12];
	if (!ReadAt(fd, 0, head, sizeof(head)) || std::memcmp(head, "FORM", 4) != 0
			|| (std::memcmp(head + 8, "AIFF", 4) != 0 && std::memcmp(head + 8, "AIFC", 4) != 0)) {
		return result;
	}
	result.read = true;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(fd, offset, header, sizeof(header)))
			return result;
		const uint64_t size = Unsigned(header + 4, 4, true);
		if (std::memcmp(header, "COMM", 4) == 0 && size >= 6) {
			unsigned char fields[6];
			if (!ReadAt(fd, offset + 8, fields, sizeof(fields)))
				return result;
			result.frames = static_cast<int64_t>(Unsigned(fields + 2, 4, true));
			result.known = true;
			return result;
		}
		offset += 8 + size + (size & 1);
	}
	return result;
}

DeclaredLength ReadDeclaredLength(int fd, uint64_t fileSize)
{
	DeclaredLength length = RiffLength(fd, fileSize);
	if (!length.read)
		length = Wave64Length(fd, fileSize);
	if (!length.read)
		length = AiffLength(fd, fileSize);
	return length;
}

// Formats whose length libsndfile takes from the stream's own header rather
// than from the file's size, so that its count is what the file declares.
bool LengthFromStream(int format)
{
	switch (format & SF_FORMAT_TYPEMASK) {
	case SF_FORMAT_FLAC:
	case SF_FORMAT_OGG:
		return true;
	default:
		return false;
	}
}

// Frames as seconds for a message: "3.0 s".
std::string Duration(int64_t frames, int sampleRate)
{
	if (sampleRate <= 0)
		return "?";
	char text[48];
	snprintf(text, sizeof(text), "%.1f s", static_cast<double>(frames) / sampleRate);
	return text;
}

} // namespace

// ---- encoding ----------------------------------------------------------------

EncodeResult EncodeFile(const Options& options, const ProgressFunction& progress)
{
	EncodeResult result;
	const std::string& input = options.input;
	result.outputPath = OutputPath(options);
	auto fail = [&result](std::string reason) {
		result.ok = false;
		result.error = std::move(reason);
		return result;
	};

	if (input.empty())
		return fail("no input file");
	if (input.find('\0') != std::string::npos)
		return fail("input file name contains a NUL byte");

	// The input.
	std::string inputDirectory, inputName;
	SplitPath(input, inputDirectory, inputName);
	FileDescriptor inputDir(OpenDirectory(inputDirectory, false));
	if (inputDir.Get() < 0) {
		const int error = errno;
		return fail("cannot open " + QuotePath(input) + ": " + ErrnoText(error));
	}
	if (inputName.empty())
		return fail(QuotePath(input) + " is a directory");
	FileDescriptor inputFd(openat(inputDir.Get(), inputName.c_str(),
		O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
	if (inputFd.Get() < 0) {
		const int error = errno;
		return fail("cannot open " + QuotePath(input) + ": " + ErrnoText(error));
	}
	struct stat inputStat;
	if (fstat(inputFd.Get(), &inputStat) != 0) {
		const int error = errno;
		return fail("cannot read " + QuotePath(input) + ": " + ErrnoText(error));
	}
	if (S_ISDIR(inputStat.st_mode))
		return fail(QuotePath(input) + " is a directory");
	if (!S_ISREG(inputStat.st_mode))
		return fail(QuotePath(input) + " is not a regular file");
	if (inputStat.st_size == 0)
		return fail(QuotePath(input) + " is empty");
	// Read now, so that -delete can hold the audio read against it.
	const bool deleting = options.deleteInput;
	const DeclaredLength declared = deleting
		? ReadDeclaredLength(inputFd.Get(), static_cast<uint64_t>(inputStat.st_size))
		: DeclaredLength{};
	// With -delete nothing is ever replaced.
	const bool replace = options.overwrite && !deleting;
	{
		const int flags = fcntl(inputFd.Get(), F_GETFL);
		if (flags >= 0)
			fcntl(inputFd.Get(), F_SETFL, flags & ~O_NONBLOCK);
	}

	SoundFile sound;
	if (!sound.Open(inputFd.Get())) {
		return fail(QuotePath(input) + " is not an audio file libsndfile can read ("
			+ OneLine(sf_strerror(nullptr)) + ")");
	}
	const SF_INFO& info = sound.Info();
	if (info.channels != 1 && info.channels != 2) {
		return fail(QuotePath(input) + " has " + std::to_string(info.channels)
			+ " channels; only mono and stereo are supported");
	}
	if (info.samplerate < kMinSampleRate) {
		return fail(QuotePath(input) + " has a sample rate of " + std::to_string(info.samplerate)
			+ " Hz; at least " + std::to_string(kMinSampleRate) + " is needed");
	}
	if (info.frames == 0)
		return fail(QuotePath(input) + " contains no audio");
	const bool lengthKnown = info.frames > 0 && info.frames != SF_COUNT_MAX;
	result.sampleRate = info.samplerate;
	result.channels = info.channels;

	// The encoder.
	LameHandle lame;
	lame_global_flags* gf = lame.Get();
	if (gf == nullptr)
		return fail("cannot initialize LAME");
	lame_set_num_channels(gf, info.channels);
	lame_set_in_samplerate(gf, info.samplerate);
	if (lengthKnown && static_cast<unsigned long long>(info.frames) <= ULONG_MAX)
		lame_set_num_samples(gf, static_cast<unsigned long>(info.frames));
	switch (options.mode) {
	case ChannelMode::Mono: lame_set_mode(gf, MONO); break;
	case ChannelMode::Stereo: lame_set_mode(gf, STEREO); break;
	case ChannelMode::JointStereo: lame_set_mode(gf, JOINT_STEREO); break;
	case ChannelMode::Default: break;
	}
	lame_set_quality(gf, options.EffectiveQuality());
	if (options.vbrQuality >= 0) {
		lame_set_VBR(gf, vbr_default);
		lame_set_VBR_quality(gf, static_cast<float>(options.vbrQuality));
		if (options.bitrate > 0)
			lame_set_VBR_min_bitrate_kbps(gf, options.bitrate);
	} else {
		lame_set_VBR(gf, vbr_off);
		lame_set_brate(gf, options.EffectiveBitrate());
	}
	lame_set_findReplayGain(gf, options.replayGain ? 1 : 0);
	lame_set_bWriteVbrTag(gf, 1);
	lame_set_write_id3tag_automatic(gf, 0);
	if (lame_init_params(gf) < 0) {
		return fail("LAME cannot encode " + QuotePath(input) + " with these settings ("
			+ std::to_string(info.samplerate) + " Hz, " + std::to_string(info.channels)
			+ " channels)");
	}

	// The output.
	std::string outputDirectory = inputDirectory;
	if (options.hasOutputDirectory)
		outputDirectory = options.outputDirectory;
	const std::string outputName = OutputFileName(inputName);
	FileDescriptor outputDir;
	int directorySyncError = 0; // of the directories made for -o
	if (options.hasOutputDirectory) {
		outputDir.Reset(OpenDirectory(outputDirectory, true, &directorySyncError));
		if (outputDir.Get() < 0) {
			const int error = errno;
			return fail("cannot create the output directory " + QuotePath(outputDirectory) + ": "
				+ ErrnoText(error));
		}
	} else {
		outputDir.Reset(fcntl(inputDir.Get(), F_DUPFD_CLOEXEC, 0));
		if (outputDir.Get() < 0) {
			const int error = errno;
			return fail("cannot open " + QuotePath(inputDirectory) + ": " + ErrnoText(error));
		}
	}
	const long nameMax = fpathconf(outputDir.Get(), _PC_NAME_MAX);
	if (nameMax > 0 && outputName.size() > static_cast<size_t>(nameMax))
		return fail("the output file name for " + QuotePath(input) + " is too long");
	{
		struct stat existing;
		if (fstatat(outputDir.Get(), outputName.c_str(), &existing, 0) == 0) {
			if (existing.st_dev == inputStat.st_dev && existing.st_ino == inputStat.st_ino) {
				return fail("the output " + QuotePath(result.outputPath)
					+ " would overwrite the input file");
			}
			// Without -overwrite a directory is one more name in use.
			if (replace && S_ISDIR(existing.st_mode))
				return fail("the output " + QuotePath(result.outputPath) + " is a directory");
		}
	}

	TempFile temp(outputDir.Get(), options.fallbacks);
	if (const int error = temp.Create(outputName, nameMax); error != 0) {
		return fail("cannot create a temporary file in "
			+ QuotePath(outputDirectory.empty() ? std::string(".") : outputDirectory) + ": "
			+ ErrnoText(error));
	}
	const std::string tempPath = JoinPath(outputDirectory, temp.Name());
	auto writeFailure = [&](int error) {
		return fail("cannot write " + QuotePath(tempPath) + ": " + ErrnoText(error));
	};

	// The loop.
	const bool asFloat = ReadsAsFloat(info.format);
	const sf_count_t blockFrames = BlockFrames(info.samplerate);
	// LAME's bound (1.25 bytes a sample + 7200) plus room for the highest bit
	// rate over the block's duration, for inputs LAME resamples upwards.
	const size_t mp3Size = static_cast<size_t>(blockFrames) * 5 / 4 + 7200
		+ static_cast<size_t>(blockFrames) * 50000 / static_cast<size_t>(info.samplerate);
	std::vector<unsigned char> mp3;
	try {
		mp3.resize(mp3Size);
	} catch (const std::bad_alloc&) {
		return fail("out of memory");
	}
	BlockReader reader(sound.Get(), asFloat, info.channels, blockFrames);
	if (!reader.Start())
		return fail("out of memory");

	int lastPercent = -1;
	if (progress && lengthKnown) {
		lastPercent = 0;
		progress(0);
	}
	int64_t total = 0;
	while (true) {
		const float* floats = nullptr;
		const int* ints = nullptr;
		const sf_count_t got = reader.Next(floats, ints);
		if (got < 0)
			return fail("cannot read " + QuotePath(input) + ": " + OneLine(reader.Error().c_str()));
		if (got == 0)
			break;
		total += got;
		const int n = static_cast<int>(got);
		const int size = static_cast<int>(mp3.size());
		int encoded;
		if (info.channels == 2) {
			encoded = asFloat
				? lame_encode_buffer_interleaved_ieee_float(gf, floats, n, mp3.data(), size)
				: lame_encode_buffer_interleaved_int(gf, ints, n, mp3.data(), size);
		} else {
			encoded = asFloat ? lame_encode_buffer_ieee_float(gf, floats, floats, n, mp3.data(), size)
				: lame_encode_buffer_int(gf, ints, ints, n, mp3.data(), size);
		}
		if (encoded < 0)
			return fail("cannot encode " + QuotePath(input) + ": " + LameError(encoded));
		int error = 0;
		if (encoded > 0) {
			if (!WriteAll(temp.Fd(), mp3.data(), static_cast<size_t>(encoded), error))
				return writeFailure(error);
			// Start the write-back now, so that the fsync at the end has little
			// left to wait for.
			sync_file_range(temp.Fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
		}

		if (progress && lengthKnown) {
			int64_t percent = total * 100 / info.frames;
			if (percent > 99)
				percent = 99; // 100 once complete
			if (percent != lastPercent) {
				lastPercent = static_cast<int>(percent);
				progress(lastPercent);
			}
		}
	}
	if (total == 0)
		return fail(QuotePath(input) + " contains no audio");
	result.frames = total;

	const int flushed = lame_encode_flush(gf, mp3.data(), static_cast<int>(mp3.size()));
	if (flushed < 0)
		return fail("cannot encode " + QuotePath(input) + ": " + LameError(flushed));
	{
		int error = 0;
		if (flushed > 0 && !WriteAll(temp.Fd(), mp3.data(), static_cast<size_t>(flushed), error))
			return writeFailure(error);
	}

	// The LAME tag replaces the empty frame that LAME put first.
	if (lame_get_bWriteVbrTag(gf)) {
		const size_t tagSize = lame_get_lametag_frame(gf, nullptr, 0);
		if (tagSize > 0) {
			std::vector<unsigned char> tag(tagSize);
			const size_t copied = lame_get_lametag_frame(gf, tag.data(), tag.size());
			int error = 0;
			if (copied > 0 && copied <= tag.size()
					&& !WriteAll(temp.Fd(), tag.data(), copied, error, 0)) {
				return writeFailure(error);
			}
		}
	}

	bool fileSynced = false;
	if (const int error = temp.Finish(fileSynced); error != 0)
		return writeFailure(error);
	std::string finalName;
	if (const int error = temp.Commit(outputName, replace, inputStat, finalName); error != 0) {
		const std::string tried = JoinPath(outputDirectory, finalName);
		if (error == kIsTheInput) {
			return fail("the output " + QuotePath(result.outputPath)
				+ " would overwrite the input file");
		}
		if (error == EEXIST) {
			return fail("cannot write " + QuotePath(result.outputPath) + ": it and every name up to "
				+ QuotePath(tried) + " are in use");
		}
		if (error == ENAMETOOLONG && finalName != outputName) {
			return fail("cannot write " + QuotePath(result.outputPath) + ": it is in use, and "
				+ QuotePath(tried) + " is too long a name for the file system");
		}
		return fail("cannot name the MP3 " + QuotePath(tried) + ": " + ErrnoText(error));
	}
	result.nameTaken = finalName != outputName;
	result.outputPath = JoinPath(outputDirectory, finalName);
	result.outputWritten = true;
	// The rename is durable once the directory is.
	const int outputDirSyncError = fsync(outputDir.Get()) == 0 ? 0 : errno;
	if (progress && lengthKnown && lastPercent != 100)
		progress(100);

	if (deleting) {
		result.inputKept = true;
		const std::string wrote = "wrote " + QuotePath(result.outputPath) + " but ";
		auto keep = [&](const std::string& reason) {
			return fail(wrote + "did not delete " + QuotePath(input) + ": " + reason);
		};

		// The MP3 must outlive a crash before its source may go.
		if (!fileSynced)
			return keep("the MP3 could not be synced to disk");
		if (outputDirSyncError != 0) {
			return keep("the output directory could not be synced to disk ("
				+ ErrnoText(outputDirSyncError) + ")");
		}
		if (directorySyncError != 0) {
			return keep("the new output directory could not be synced to disk ("
				+ ErrnoText(directorySyncError) + ")");
		}

		// Delete only what was encoded, as it was: the same file, by the
		// open descriptor and by its name, unchanged since the encode began.
		struct stat held, now, output;
		if (fstat(inputFd.Get(), &held) != 0) {
			const int error = errno;
			return keep("cannot check it: " + ErrnoText(error));
		}
		if (fstatat(inputDir.Get(), inputName.c_str(), &now, 0) != 0) {
			const int error = errno;
			if (error == ENOENT)
				return keep("it was moved or removed during the encode");
			return keep("cannot check it: " + ErrnoText(error));
		}
		if (fstatat(outputDir.Get(), finalName.c_str(), &output, 0) == 0 && SameFile(output, now))
			return keep("it is the output file");
		if (!SameFile(now, inputStat) || !SameFile(held, inputStat))
			return keep("it was replaced during the encode");
		for (const struct stat* seen : {&held, &now}) {
			if (seen->st_size != inputStat.st_size) {
				return keep("it changed during the encode (from " + std::to_string(inputStat.st_size)
					+ " to " + std::to_string(seen->st_size) + " bytes)");
			}
			if (seen->st_mtim.tv_sec != inputStat.st_mtim.tv_sec
					|| seen->st_mtim.tv_nsec != inputStat.st_mtim.tv_nsec) {
				return keep("it was modified during the encode");
			}
			if (seen->st_ctim.tv_sec != inputStat.st_ctim.tv_sec
					|| seen->st_ctim.tv_nsec != inputStat.st_ctim.tv_nsec) {
				return keep("it changed during the encode (its status change time moved)");
			}
		}

		// All the audio the header declares was read: not a file cut short,
		// nor one a recorder is still writing.
		const std::string uncheckable = "only inputs of uncompressed WAV, RF64 or W64, AIFF, FLAC"
			" or Ogg can be checked as complete";
		int64_t expected = -1;
		if (declared.read) {
			if (declared.compressed)
				return keep(uncheckable);
			if (declared.known)
				expected = declared.frames;
		} else if (LengthFromStream(info.format)) {
			if (lengthKnown)
				expected = info.frames;
		} else {
			return keep(uncheckable);
		}
		if (expected < 0) {
			return keep("its header does not declare its length (it may still be being written),"
				" so the encode cannot be checked as complete");
		}
		if (expected != total) {
			return keep("its header declares " + Duration(expected, info.samplerate) + " of audio ("
				+ std::to_string(expected) + " frames) but " + Duration(total, info.samplerate) + " ("
				+ std::to_string(total) + " frames) could be read"
				+ (total < expected ? ": it is truncated or still being written" : ""));
		}

		if (unlinkat(inputDir.Get(), inputName.c_str(), 0) != 0) {
			const int error = errno;
			return fail(wrote + "cannot delete " + QuotePath(input) + ": " + ErrnoText(error));
		}
		result.inputKept = false;
	}

	result.ok = true;
	return result;
}

} // namespace gogo
