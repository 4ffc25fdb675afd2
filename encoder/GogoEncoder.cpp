#include "GogoEncoder.h"

#include <lame/lame.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <ctime>
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
// any length works; with create, missing components are made (mkdir -p).
// Returns the descriptor, or -1 with errno set.
int OpenDirectory(const std::string& path, bool create)
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
			if (mkdirat(current, component.c_str(), 0777) != 0 && errno != EEXIST) {
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

// A temporary file being written in a directory; removed unless committed.
class TempFile {
public:
	explicit TempFile(int directory) : fDirectory(directory) {}
	~TempFile() { Discard(); }
	TempFile(const TempFile&) = delete;
	TempFile& operator=(const TempFile&) = delete;

	// Creates the file without a name where the file system can (so that
	// not even SIGKILL, which is how the front end skips a file, leaves one
	// behind), and as ".<finalName>.XXXXXX" otherwise (shortened when too
	// long for the file system). Returns 0 or the error.
	int Create(const std::string& finalName, long nameMax)
	{
		fNameMax = nameMax;
		// The nameless file gets its name through /proc at the end.
		if (access("/proc/self/fd", X_OK) == 0) {
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
				return 0;
			}
			error = errno;
			UnregisterTemp(fSlot);
			fSlot = -1;
			fName.clear();
			if (error != EEXIST)
				break;
		}
		return error;
	}

	int Fd() const { return fFd.Get(); }
	const std::string& Name() const { return fName; }

	// Syncs and closes; returns 0 or the error.
	int Finish()
	{
		if (fsync(fFd.Get()) != 0 && errno != EINVAL && errno != EROFS)
			return errno;
		// A nameless file is closed once it has its name.
		return fNameless ? 0 : fFd.Close();
	}

	// Renames over the final name; returns 0 or the error. A nameless file is
	// first linked in under a temporary name, as rename cannot take it.
	int Commit(const std::string& finalName)
	{
		if (fNameless) {
			const std::string self = "/proc/self/fd/" + std::to_string(fFd.Get());
			int error = EEXIST;
			for (int attempt = 0; attempt < 100 && error == EEXIST; attempt++) {
				SignalBlock block;
				fName = Stem(finalName) + "." + RandomSuffix();
				fSlot = RegisterTemp(fDirectory, fName.c_str());
				error = linkat(AT_FDCWD, self.c_str(), fDirectory, fName.c_str(), AT_SYMLINK_FOLLOW) == 0
					? 0 : errno;
				if (error != 0) {
					UnregisterTemp(fSlot);
					fSlot = -1;
					fName.clear();
				}
			}
			if (error != 0)
				return error;
			fNameless = false;
			if (const int closed = fFd.Close(); closed != 0)
				return closed;
		}
		SignalBlock block;
		if (renameat(fDirectory, fName.c_str(), fDirectory, finalName.c_str()) != 0)
			return errno;
		UnregisterTemp(fSlot);
		fSlot = -1;
		fName.clear();
		return 0;
	}

	void Discard()
	{
		fFd.Reset();
		if (fName.empty())
			return;
		SignalBlock block;
		unlinkat(fDirectory, fName.c_str(), 0);
		UnregisterTemp(fSlot);
		fSlot = -1;
		fName.clear();
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

	int fDirectory;
	FileDescriptor fFd;
	std::string fName;
	int fSlot = -1;
	long fNameMax = 0;
	bool fNameless = false;
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

// Reads the input a block ahead of the encoder, on a second thread, so that
// reading and converting the samples overlaps encoding them. Reads in the
// caller's thread instead when no thread can be started.
class BlockReader {
public:
	BlockReader(SNDFILE* file, bool asFloat, int channels, sf_count_t blockFrames)
		:
		fFile(file),
		fAsFloat(asFloat),
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
		if (got > 0)
			return got;
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
	if (options.hasOutputDirectory) {
		outputDir.Reset(OpenDirectory(outputDirectory, true));
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
			if (S_ISDIR(existing.st_mode))
				return fail("the output " + QuotePath(result.outputPath) + " is a directory");
		}
	}

	TempFile temp(outputDir.Get());
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

	if (const int error = temp.Finish(); error != 0)
		return writeFailure(error);
	if (const int error = temp.Commit(outputName); error != 0) {
		return fail("cannot rename " + QuotePath(tempPath) + " to " + QuotePath(result.outputPath)
			+ ": " + ErrnoText(error));
	}
	result.outputWritten = true;
	if (progress && lengthKnown && lastPercent != 100)
		progress(100);

	if (options.deleteInput) {
		// Delete only what was encoded, and never the MP3 itself.
		struct stat now, output;
		if (fstatat(inputDir.Get(), inputName.c_str(), &now, 0) != 0) {
			const int error = errno;
			return fail("wrote " + QuotePath(result.outputPath) + " but cannot delete "
				+ QuotePath(input) + ": " + ErrnoText(error));
		}
		if (fstatat(outputDir.Get(), outputName.c_str(), &output, 0) == 0
				&& output.st_dev == now.st_dev && output.st_ino == now.st_ino) {
			return fail("wrote " + QuotePath(result.outputPath) + " but did not delete "
				+ QuotePath(input) + ": it is the output file");
		}
		if (now.st_dev != inputStat.st_dev || now.st_ino != inputStat.st_ino) {
			return fail("wrote " + QuotePath(result.outputPath) + " but did not delete "
				+ QuotePath(input) + ": it was replaced during the encode");
		}
		if (unlinkat(inputDir.Get(), inputName.c_str(), 0) != 0) {
			const int error = errno;
			return fail("wrote " + QuotePath(result.outputPath) + " but cannot delete "
				+ QuotePath(input) + ": " + ErrnoText(error));
		}
	}

	result.ok = true;
	return result;
}

} // namespace gogo
