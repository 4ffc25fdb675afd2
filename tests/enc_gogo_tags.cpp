// The tags an input carries, and those the options set, in the MP3's
// ID3v2.4 tag: each kind of source read back with TagLib, the stream after
// the tag intact, and hostile metadata bounded.
#include "GogoEncoder.h"
#include "GogoFixtures.h"
#include "GogoOptions.h"
#include "LameTag.h"
#include "MetadataChunks.h"
#include "UniqueFd.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <map>

#include <fcntl.h>

namespace {

using namespace gogo_testing;

std::string LittleEndian(uint64_t value, int bytes)
{
	std::string out;
	for (int i = 0; i < bytes; i++)
		out += static_cast<char>((value >> (8 * i)) & 0xff);
	return out;
}

std::string BigEndian(uint64_t value, int bytes)
{
	std::string out;
	for (int i = bytes - 1; i >= 0; i--)
		out += static_cast<char>((value >> (8 * i)) & 0xff);
	return out;
}

// A RIFF (or, bigEndian, AIFF) chunk, padded to an even size.
std::string Chunk(const std::string& name, const std::string& body, bool bigEndian = false)
{
	std::string chunk = name + (bigEndian ? BigEndian(body.size(), 4) : LittleEndian(body.size(), 4))
		+ body;
	if (body.size() % 2 != 0)
		chunk += '\0';
	return chunk;
}

std::string Info(const std::vector<std::pair<std::string, std::string>>& fields)
{
	std::string body = "INFO";
	for (const auto& [id, text] : fields)
		body += Chunk(id, text);
	return Chunk("LIST", body);
}

// An ID3v2.3 tag, as WAV and AIFF writers embed one.
std::string Id3(const std::map<std::string, std::string>& frames, size_t pictureBytes = 0)
{
	TagLib::ID3v2::Tag tag;
	for (const auto& [id, text] : frames) {
		auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(
			TagLib::ByteVector(id.c_str()), TagLib::String::UTF16);
		frame->setText(TagLib::String(text, TagLib::String::UTF8));
		tag.addFrame(frame.release());
	}
	if (pictureBytes > 0) {
		auto picture = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
		picture->setMimeType("image/jpeg");
		picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
		picture->setPicture(TagLib::ByteVector(static_cast<unsigned>(pictureBytes), 'j'));
		tag.addFrame(picture.release());
	}
	const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v3);
	return std::string(bytes.data(), bytes.size());
}

// The fixed fields of a bext chunk.
std::string Bext(const std::string& description, const std::string& originator,
	const std::string& date, const std::string& time)
{
	auto field = [](const std::string& text, size_t size) {
		std::string out = text.substr(0, size);
		out.resize(size, '\0');
		return out;
	};
	return field(description, 256) + field(originator, 32) + field("ref", 32) + field(date, 10)
		+ field(time, 8) + std::string(602 - 338, '\0');
}

// A second of 16-bit stereo PCM WAV with these chunks after its audio.
std::string WavWith(const std::string& chunks)
{
	constexpr uint32_t kBytes = 44100 * 4;
	std::string data = WavHeader(44100, 2, kBytes) + PcmFrames(0, 44100, 44100, 2) + chunks;
	data.replace(4, 4, LittleEndian(data.size() - 8, 4));
	return data;
}

// The frames of the MP3's tag, each as TagLib gives it as text, by ID (a
// COMM by "COMM:" and its description); "APIC" gives the picture's size.
std::map<std::string, std::string> ReadTag(const std::string& path)
{
	std::map<std::string, std::string> frames;
	TagLib::MPEG::File file(path.c_str(), false);
	if (!file.hasID3v2Tag())
		return frames;
	for (TagLib::ID3v2::Frame* frame : file.ID3v2Tag()->frameList()) {
		std::string id(frame->frameID().data(), frame->frameID().size());
		if (auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame))
			frames[id] = std::to_string(picture->picture().size());
		else if (auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame))
			frames[id + ":" + comment->description().to8Bit(true)] = comment->toString().to8Bit(true);
		else if (auto* text = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame))
			frames[id + ":" + text->description().to8Bit(true)] = text->fieldList().back().to8Bit(true);
		else if (auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame))
			frames[id] = text->fieldList().toString("/").to8Bit(true);
		else
			frames[id] = frame->toString().to8Bit(true);
	}
	return frames;
}

// The ID3v2 tag's size from its header (0 without one) and major version.
size_t TagSize(const std::string& mp3, int* version = nullptr)
{
	if (mp3.size() < 10 || mp3.compare(0, 3, "ID3") != 0)
		return 0;
	if (version != nullptr)
		*version = mp3[3];
	const auto* h = reinterpret_cast<const unsigned char*>(mp3.data());
	return 10 + (size_t{h[6]} << 21 | size_t{h[7]} << 14 | size_t{h[8]} << 7 | h[9]);
}

using Frames = std::map<std::string, std::string>;

struct Source {
	const char* name;
	const char* extension;
	std::string bytes;
	Frames expected;
	std::vector<std::pair<gogo::TagField, std::string>> set = {};
	bool noTag = false;
};

// Each kind of source once: what lands in which frame, what wins where two
// sources give one field, and the options over all of them.
TEST(GogoTags, EachSourceKindReachesTheMp3sTag)
{
	const std::string flac = MadeBy(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 13);
	const std::string ogg = MadeBy(SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1);
	std::string aiff = MadeBy(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1);
	aiff += Chunk("NAME", std::string("Field take\0\0", 12), true) + Chunk("AUTH", "Ann \xe9l\xe8ve   ", true)
		+ Chunk("(c) ", "2024 Ann", true) + Chunk("ANNO", "first", true)
		+ Chunk("ANNO", "second", true) + Chunk("ID3 ", Id3({{"TALB", "Sessions"}}), true);
	aiff.replace(4, 4, BigEndian(aiff.size() - 8, 4));
	std::string w64 = MadeBy(SF_FORMAT_W64 | SF_FORMAT_PCM_16, 1);
	const std::string list = Info({{"INAM", "Wave64 title"}});
	w64 += "list" + std::string(12, '\x01') + LittleEndian(24 + list.size() - 8, 8)
		+ list.substr(8) + std::string((8 - list.size() % 8) % 8, '\0');

	const Source sources[] = {
		{"wav INFO", "wav",
			WavWith(Info({{"INAM", "Song"}, {"IART", "Band"}, {"IPRD", "Record"}, {"ICRD", "2019"},
				{"ITRK", "4"}, {"IGNR", "Folk"}, {"ICMT", "Live"}, {"ICOP", "(C) Band"}})),
			{{"TIT2", "Song"}, {"TPE1", "Band"}, {"TALB", "Record"}, {"TDRC", "2019"}, {"TRCK", "4"},
				{"TCON", "Folk"}, {"COMM:", "Live"}, {"TCOP", "(C) Band"}}},
		// The embedded ID3 chunk wins over INFO; INFO and bext fill in the rest.
		{"wav id3 INFO bext", "wav",
			WavWith(Info({{"INAM", "Info title"}, {"IART", "Info artist"}})
				+ Chunk("id3 ", Id3({{"TIT2", "Id3 title"}, {"TRCK", "2/9"}}, 3000))
				+ Chunk("bext", Bext("Scene 4 take 2", "ZOOM F6", "2024-05-01", "10:30:00"))),
			{{"TIT2", "Id3 title"}, {"TPE1", "Info artist"}, {"TRCK", "2/9"}, {"APIC", "3000"},
				{"COMM:BWF description", "Scene 4 take 2"}, {"TXXX:BWF originator", "ZOOM F6"},
				{"TXXX:BWF originator reference", "ref"}, {"TDRC", "2024-05-01T10:30:00"}}},
		// Text that is not UTF-8 is Latin-1; what follows a NUL is not text.
		{"aiff", "aiff", aiff,
			{{"TIT2", "Field take"}, {"TPE1", "Ann \xc3\xa9l\xc3\xa8ve"}, {"TCOP", "2024 Ann"},
				{"COMM:", "first\nsecond"}, {"TALB", "Sessions"}}},
		{"w64", "w64", w64, {{"TIT2", "Wave64 title"}}},
		// flac and ogg get their comments below, with TagLib.
		{"flac", "flac", flac,
			{{"TIT2", "Ttl"}, {"TPE1", "One/Two"}, {"TPE2", "Various"}, {"TALB", "Alb"},
				{"TRCK", "3/12"}, {"TPOS", "1/2"}, {"TDRC", "2004-05"}, {"TCON", "Jazz"},
				{"TCOM", "Comp"}, {"COMM:", "a\nb"}, {"APIC", "500"}, {"TXXX:DATE", "spring"}}},
		{"ogg", "ogg", ogg, {{"TIT2", "Ogg title"}, {"TPE1", "Ogg artist"}}},
		{"options", "wav", WavWith(Info({{"INAM", "Old"}, {"IART", "Kept"}})),
			{{"TIT2", "New"}, {"TPE1", "Kept"}, {"TALB", "A"}, {"TDRC", "1999"}, {"TRCK", "1/2"},
				{"TCON", "G"}, {"COMM:", "C"}},
			{{gogo::TagField::Title, "New"}, {gogo::TagField::Album, "A"},
				{gogo::TagField::Year, "1999"}, {gogo::TagField::Track, "1/2"},
				{gogo::TagField::Genre, "G"}, {gogo::TagField::Comment, "C"}}},
		{"notag", "wav", WavWith(Info({{"INAM", "Song"}})), {}, {}, true},
	};
	for (const Source& source : sources) {
		SCOPED_TRACE(source.name);
		TempDir dir;
		const std::string input = dir / (std::string("in.") + source.extension);
		ASSERT_TRUE(WriteFile(input, source.bytes));
		if (std::string_view(source.name) == "flac") {
			TagLib::FLAC::File file(input.c_str(), false);
			TagLib::Ogg::XiphComment* comment = file.xiphComment(true);
			const char* const fields[][2] = {{"TITLE", "Ttl"}, {"ARTIST", "One"},
				{"ARTIST", "Two"}, {"ALBUMARTIST", "Various"}, {"ALBUM", "Alb"},
				{"TRACKNUMBER", "3"}, {"TRACKTOTAL", "12"}, {"DISCNUMBER", "1"},
				{"DISCTOTAL", "2"}, {"DATE", "2004-05"}, {"DATE", "spring"}, {"GENRE", "Jazz"},
				{"COMPOSER", "Comp"}, {"COMMENT", "a"}, {"COMMENT", "b"}};
			comment->removeAllFields();
			for (const auto& field : fields)
				comment->addField(field[0], TagLib::String(field[1], TagLib::String::UTF8), false);
			auto picture = std::make_unique<TagLib::FLAC::Picture>();
			picture->setType(TagLib::FLAC::Picture::FrontCover);
			picture->setMimeType("image/png");
			picture->setData(TagLib::ByteVector(500, 'p'));
			file.addPicture(picture.release()); // the file owns it
			ASSERT_TRUE(file.save());
		} else if (std::string_view(source.name) == "ogg") {
			TagLib::Ogg::Vorbis::File file(input.c_str(), false);
			file.tag()->setTitle("Ogg title");
			file.tag()->setArtist("Ogg artist");
			ASSERT_TRUE(file.save());
		}
		gogo::Options options;
		options.input = input;
		options.silent = true;
		options.noTag = source.noTag;
		for (const auto& [field, value] : source.set)
			options.tags[static_cast<size_t>(field)] = value;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_EQ(result.tagNote, "");
		EXPECT_EQ(ReadTag(result.outputPath), source.expected);
		const std::string mp3 = ReadFile(result.outputPath);
		int version = 0;
		const size_t tagSize = TagSize(mp3, &version);
		EXPECT_EQ(tagSize == 0, source.expected.empty());
		if (tagSize > 0) {
			EXPECT_EQ(version, 4);
			EXPECT_TRUE(gogo::ReadInfoTag(reinterpret_cast<const unsigned char*>(mp3.data()) + tagSize,
				mp3.size() - tagSize));
		}
	}
}

// The stream after the tag is the stream without it, on one thread and on
// several, and decoders take it whole.
TEST(GogoTags, TheStreamAfterTheTagIsTheOneWithoutIt)
{
	TempDir dir;
	const std::string input = dir / "long.wav";
	ASSERT_TRUE(WriteFile(input, MadeBy(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 30)
		+ Chunk("id3 ", Id3({{"TIT2", "Long"}}, 40000))));
	std::string tags[2];
	for (const int threads : {1, 2}) {
		SCOPED_TRACE(threads);
		std::string mp3[2];
		for (const bool noTag : {false, true}) {
			gogo::Options options;
			options.input = input;
			options.silent = true;
			options.threads = threads;
			options.noTag = noTag;
			options.hasOutputDirectory = true;
			options.outputDirectory = dir / (std::to_string(threads) + (noTag ? "plain" : "tagged"));
			const gogo::EncodeResult result = gogo::EncodeFile(options);
			ASSERT_TRUE(result.ok) << result.error;
			mp3[noTag] = ReadFile(result.outputPath);
			if (!noTag) {
				const RunResult strict = RunCommand({"/usr/bin/mpg123", "-q", "-t", result.outputPath});
				EXPECT_EQ(strict.Code(), 0);
				EXPECT_EQ(strict.err, "");
			}
		}
		const size_t tagSize = TagSize(mp3[0]);
		ASSERT_GT(tagSize, 40000u);
		EXPECT_TRUE(mp3[0].compare(tagSize, std::string::npos, mp3[1]) == 0);
		tags[threads - 1] = mp3[0].substr(0, tagSize);
	}
	EXPECT_EQ(tags[0], tags[1]);
}

// Metadata that lies, or is far too big: the encode goes on, the tag
// holds what could be read within the bound, and one note says what was
// left out.
TEST(GogoTags, HostileMetadataIsBounded)
{
	std::string comments = LittleEndian(3, 4) + "abc" + LittleEndian(10000, 4);
	for (int i = 0; i < 10000; i++) {
		const std::string field = "ARTIST=artist " + std::to_string(i);
		comments += LittleEndian(field.size(), 4) + field;
	}
	struct Case {
		const char* name;
		std::string bytes;
		Frames expected;
		bool note;
	};
	const Case cases[] = {
		{"LIST claims 3 GB", WavWith(Info({{"INAM", "Lost"}}).substr(0, 4) + LittleEndian(3u << 30, 4)
			+ "INFO"), {}, true},
		{"picture over 16 MB", WavWith(Info({{"INAM", "Kept"}})
			+ Chunk("id3 ", Id3({{"TIT2", "Big"}}, 17 << 20))), {{"TIT2", "Kept"}}, true},
		{"malformed id3", WavWith(Chunk("id3 ", std::string("ID3\x04\0\0\0\0\x10\0TIT2\xff\xff\xff\xff\0\0x", 21))
			+ Info({{"IART", "Artist"}})), {{"TPE1", "Artist"}}, false},
		{"NUL and bad UTF-8", WavWith(Info({{"INAM", std::string("A\0B", 3)}, {"IART", "\xff\xfe"}})),
			{{"TIT2", "A"}, {"TPE1", "\xc3\xbf\xc3\xbe"}}, false},
		{"ten thousand comments", MadeBy(SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1), {}, false},
	};
	for (const Case& test : cases) {
		SCOPED_TRACE(test.name);
		TempDir dir;
		const bool flac = std::string_view(test.name) == "ten thousand comments";
		const std::string input = dir / (flac ? "in.flac" : "in.wav");
		std::string bytes = test.bytes;
		if (flac) { // the comment block right after STREAMINFO
			const bool last = (bytes[4] & 0x80) != 0;
			bytes[4] = static_cast<char>(bytes[4] & 0x7f);
			bytes.insert(42, std::string(1, last ? '\x84' : '\x04') + BigEndian(comments.size(), 3)
				+ comments);
		}
		ASSERT_TRUE(WriteFile(input, bytes));
		gogo::Options options;
		options.input = input;
		options.silent = true;
		const gogo::EncodeResult result = gogo::EncodeFile(options);
		ASSERT_TRUE(result.ok) << result.error;
		EXPECT_EQ(!result.tagNote.empty(), test.note) << result.tagNote;
		Frames got = ReadTag(result.outputPath);
		if (flac) {
			EXPECT_EQ(got["TPE1"].substr(0, 18), "artist 0/artist 1/");
			EXPECT_LT(ReadFile(result.outputPath).size(), size_t{1} << 20);
		} else {
			EXPECT_EQ(got, test.expected);
		}
	}
	// The budget holds for every part together.
	TempDir dir;
	const std::string input = dir / "in.wav";
	ASSERT_TRUE(WriteFile(input, WavWith(Info({{"INAM", std::string(600, 'a')}})
		+ Info({{"IART", std::string(600, 'b')}}))));
	const UniqueFd fd(open(input.c_str(), O_RDONLY | O_CLOEXEC));
	const gogo::MetadataChunks chunks = gogo::ReadMetadataChunks(fd.Get(), ReadFile(input).size(), 1000);
	EXPECT_EQ(chunks.info.size(), 1u);
	EXPECT_TRUE(chunks.leftOut);
}

} // namespace
