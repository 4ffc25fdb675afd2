#include "InputTags.h"
#include "MetadataChunks.h"
#include "TagText.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/textidentificationframe.h>
#include <taglib/xiphcomment.h>

#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>

namespace gogo {

namespace {

using TagLib::ByteVector;
using TagLib::String;
using TagLib::StringList;
namespace ID3v2 = TagLib::ID3v2;

String Utf8(const std::string& text)
{
	return String(text, String::UTF8);
}

String Clean(std::string_view bytes)
{
	return Utf8(TextFromBytes(bytes));
}

// The frames the command line's fields go to, by TagField.
constexpr const char* kOptionFrames[kTagFields] = {"TIT2", "TPE1", "TALB", "TDRC", "TRCK", "TCON",
	"COMM"};

// A field of INFO or AIFF and the ID3v2.4 frame it goes to.
struct FieldFrame {
	const char* field;
	const char* frame;
};

// Vorbis comments by their ID3v2.4 frames, one or two fields to a frame.
// Fields of several values keep them all (as a text frame's list); several
// comments are one COMM frame of lines.
struct FieldsFrame {
	const char* fields[2]; // the second may be null
	const char* frame;
};
constexpr FieldsFrame kVorbisFrames[] = {{{"TITLE"}, "TIT2"}, {{"ARTIST"}, "TPE1"}, {{"ALBUM"}, "TALB"},
	{{"ALBUMARTIST", "ALBUM ARTIST"}, "TPE2"}, {{"DATE"}, "TDRC"}, {{"GENRE"}, "TCON"},
	{{"COMPOSER"}, "TCOM"}, {{"COMMENT", "DESCRIPTION"}, "COMM"}};

// RIFF INFO fields.
constexpr FieldFrame kInfoFrames[] = {{"INAM", "TIT2"}, {"IART", "TPE1"}, {"IPRD", "TALB"},
	{"ICRD", "TDRC"}, {"ITRK", "TRCK"}, {"IPRT", "TRCK"}, {"IGNR", "TCON"}, {"ICMT", "COMM"},
	{"ICOP", "TCOP"}, {"ISFT", "TSSE"}, {"ISBJ", "TIT3"}, {"IMUS", "TCOM"}, {"IWRI", "TEXT"},
	{"ILNG", "TLAN"}, {"IPUB", "TPUB"}, {"IENC", "TENC"}};

// AIFF's text chunks.
constexpr FieldFrame kAiffFrames[] = {{"NAME", "TIT2"}, {"AUTH", "TPE1"}, {"(c) ", "TCOP"},
	{"ANNO", "COMM"}};

// INFO text declares no encoding: it is decoded as TextFromBytes does.
class InfoText : public TagLib::RIFF::Info::StringHandler {
public:
	String parse(const ByteVector& data) const override
	{
		return Clean(std::string_view(data.data(), data.size()));
	}
};

void UseInfoText()
{
	static InfoText handler;
	static std::once_flag once;
	std::call_once(once, [] { TagLib::RIFF::Info::Tag::setStringHandler(&handler); });
}

// The tag being built: the first embedded ID3v2 tag as TagLib read it (its
// frames kept as they are), or an empty one.
class TagBuilder {
public:
	explicit TagBuilder(const std::string* id3)
	{
		if (id3 != nullptr) {
			fStream = std::make_unique<TagLib::ByteVectorStream>(ByteVector(id3->data(),
				static_cast<unsigned>(id3->size())));
			fFile = std::make_unique<TagLib::MPEG::File>(fStream.get(),
				ID3v2::FrameFactory::instance(), false);
			if (fFile->isValid() && fFile->hasID3v2Tag())
				fTag = fFile->ID3v2Tag();
		}
		if (fTag == nullptr) {
			fOwn = std::make_unique<ID3v2::Tag>();
			fTag = fOwn.get();
		}
		// Its text in UTF-8, whatever the embedded tag used.
		for (ID3v2::Frame* frame : fTag->frameList()) {
			if (auto* text = dynamic_cast<ID3v2::TextIdentificationFrame*>(frame))
				text->setTextEncoding(String::UTF8);
			else if (auto* comment = dynamic_cast<ID3v2::CommentsFrame*>(frame))
				comment->setTextEncoding(String::UTF8);
			else if (auto* picture = dynamic_cast<ID3v2::AttachedPictureFrame*>(frame))
				picture->setTextEncoding(String::UTF8);
		}
	}

	bool Has(const char* id) const
	{
		const ID3v2::FrameListMap& frames = fTag->frameListMap();
		return frames.contains(id) && !frames[id].isEmpty();
	}

	// Sets a frame's values: where replace or where it has none yet. Empty
	// values are left out; COMM is the comment without a description.
	void Set(const char* id, const StringList& given, bool replace)
	{
		const StringList values = NotEmpty(given);
		if (std::string_view(id) == "COMM") {
			SetComment(String(), values, replace);
			return;
		}
		if (values.isEmpty() || (!replace && Has(id)))
			return;
		fTag->removeFrames(id);
		auto frame = std::make_unique<ID3v2::TextIdentificationFrame>(ByteVector(id), String::UTF8);
		frame->setText(values);
		fTag->addFrame(frame.release()); // the tag owns its frames
	}

	// A comment of this description, its values as lines.
	void SetComment(const String& description, const StringList& given, bool replace)
	{
		const StringList values = NotEmpty(given);
		if (values.isEmpty())
			return;
		if (ID3v2::CommentsFrame* old = ID3v2::CommentsFrame::findByDescription(fTag, description)) {
			if (!replace)
				return;
			fTag->removeFrame(old);
		}
		auto frame = std::make_unique<ID3v2::CommentsFrame>(String::UTF8);
		frame->setLanguage("XXX");
		frame->setDescription(description);
		frame->setText(values.toString("\n"));
		fTag->addFrame(frame.release());
	}

	void SetUserText(const String& description, const String& value)
	{
		const StringList values = NotEmpty(StringList(value));
		if (values.isEmpty() || ID3v2::UserTextIdentificationFrame::find(fTag, description) != nullptr)
			return;
		fTag->addFrame(std::make_unique<ID3v2::UserTextIdentificationFrame>(description, values,
			String::UTF8).release());
	}

	void AddPicture(const TagLib::FLAC::Picture& picture)
	{
		if (picture.data().isEmpty())
			return;
		const int type = picture.type();
		// One picture of each type: the first there is.
		for (ID3v2::Frame* frame : fTag->frameList("APIC")) {
			if (auto* known = dynamic_cast<ID3v2::AttachedPictureFrame*>(frame); known != nullptr
					&& known->type() == type) {
				return;
			}
		}
		auto frame = std::make_unique<ID3v2::AttachedPictureFrame>();
		frame->setTextEncoding(String::UTF8);
		frame->setMimeType(picture.mimeType());
		frame->setDescription(picture.description());
		frame->setType(type >= 0 && type <= 20 ? static_cast<ID3v2::AttachedPictureFrame::Type>(type)
											   : ID3v2::AttachedPictureFrame::Other);
		frame->setPicture(picture.data());
		fTag->addFrame(frame.release());
	}

	std::vector<unsigned char> Render() const
	{
		if (fTag->frameList().isEmpty())
			return {};
		const ByteVector bytes = fTag->render(ID3v2::v4);
		return std::vector<unsigned char>(bytes.begin(), bytes.end());
	}

private:
	// The values as text: each cut at a NUL (which would split it in
	// two in the tag) and without trailing spaces; empty ones left out.
	static StringList NotEmpty(const StringList& given)
	{
		StringList values;
		for (const String& value : given) {
			const String text = Clean(value.to8Bit(true));
			if (!text.isEmpty())
				values.append(text);
		}
		return values;
	}

	std::unique_ptr<TagLib::ByteVectorStream> fStream;
	std::unique_ptr<TagLib::MPEG::File> fFile; // reads from fStream
	std::unique_ptr<ID3v2::Tag> fOwn;
	ID3v2::Tag* fTag = nullptr;
};

// A date as TDRC takes it, where there is none yet; anything else goes to
// a TXXX frame of the field.
void FillDate(TagBuilder& tag, const String& date, const char* field)
{
	if (IsTimestamp(date.to8Bit(true)))
		tag.Set("TDRC", StringList(date), false);
	else
		tag.SetUserText(field, date);
}

// "n" and a total: "n/total".
String Counted(const StringList& number, const StringList& total)
{
	if (number.isEmpty())
		return String();
	if (total.isEmpty() || number.front().find("/") >= 0)
		return number.front();
	return number.front() + "/" + total.front();
}

// A FLAC's or Ogg's own comments replace what an ID3v2 tag before the
// stream says.
void FromVorbis(TagBuilder& tag, const std::string& bytes)
{
	TagLib::Ogg::XiphComment comment(ByteVector(bytes.data(), static_cast<unsigned>(bytes.size())));
	const TagLib::Ogg::FieldListMap& fields = comment.fieldListMap();
	auto values = [&fields](const char* name) {
		return fields.contains(name) ? fields[name] : StringList();
	};
	for (const FieldsFrame& entry : kVorbisFrames) {
		StringList all;
		for (const char* field : entry.fields) {
			if (field != nullptr)
				all.append(values(field));
		}
		if (std::string_view(entry.frame) == "TDRC") {
			// The first date TDRC can take; the others are kept beside it.
			bool dated = false;
			for (const String& date : all) {
				if (!dated && IsTimestamp(date.to8Bit(true))) {
					tag.Set("TDRC", StringList(date), true);
					dated = true;
				} else {
					tag.SetUserText("DATE", date);
				}
			}
		} else {
			tag.Set(entry.frame, all, true);
		}
	}
	tag.Set("TRCK", StringList(Counted(values("TRACKNUMBER"), values("TRACKTOTAL"))), true);
	tag.Set("TPOS", StringList(Counted(values("DISCNUMBER"), values("DISCTOTAL"))), true);
	for (TagLib::FLAC::Picture* picture : comment.pictureList())
		tag.AddPicture(*picture);
}

void FromInfo(TagBuilder& tag, const std::string& bytes)
{
	UseInfoText();
	const TagLib::RIFF::Info::Tag info(ByteVector(bytes.data(), static_cast<unsigned>(bytes.size())));
	const TagLib::RIFF::Info::FieldListMap fields = info.fieldListMap();
	for (const FieldFrame& entry : kInfoFrames) {
		if (!fields.contains(entry.field))
			continue;
		if (std::string_view(entry.frame) == "TDRC")
			FillDate(tag, fields[entry.field], entry.field);
		else
			tag.Set(entry.frame, StringList(fields[entry.field]), false);
	}
}

// bext's fields: the description as a comment of its own, who made it, and
// when (as the recording's date when nothing else gives one).
void FromBext(TagBuilder& tag, std::string_view fields)
{
	auto field = [fields](size_t offset, size_t size) -> std::string {
		return offset < fields.size() ? TextFromBytes(fields.substr(offset, size)) : std::string();
	};
	tag.SetComment("BWF description", StringList(Utf8(field(0, 256))), false);
	tag.SetUserText("BWF originator", Utf8(field(256, 32)));
	tag.SetUserText("BWF originator reference", Utf8(field(288, 32)));
	// Any separators: "2024-05-01" and "10:30:00" as EBU writes them, or
	// ':' or ' ' as some recorders do.
	std::string date = field(320, 10);
	const std::string time = field(330, 8);
	if (date.size() == 10) {
		date[4] = date[7] = '-';
		if (time.size() == 8)
			date += "T" + time.substr(0, 2) + ":" + time.substr(3, 2) + ":" + time.substr(6, 2);
		if (!IsTimestamp(date))
			date.resize(10);
		if (IsTimestamp(date))
			tag.Set("TDRC", StringList(Utf8(date)), false);
	}
}

void FromAiffText(TagBuilder& tag, const std::vector<std::pair<std::string, std::string>>& chunks)
{
	for (const FieldFrame& entry : kAiffFrames) {
		StringList values;
		for (const auto& [name, text] : chunks) {
			if (name == entry.field)
				values.append(Clean(text));
		}
		tag.Set(entry.frame, values, false);
	}
}

InputTag Make(int fd, uint64_t fileSize, const Options& options)
{
	const MetadataChunks chunks = ReadMetadataChunks(fd, fileSize);
	TagBuilder tag(chunks.id3.empty() ? nullptr : &chunks.id3.front());
	for (const std::string& comments : chunks.vorbisComments)
		FromVorbis(tag, comments);
	for (const std::string& block : chunks.pictures) {
		TagLib::FLAC::Picture picture;
		if (picture.parse(ByteVector(block.data(), static_cast<unsigned>(block.size()))))
			tag.AddPicture(picture);
	}
	for (const std::string& info : chunks.info)
		FromInfo(tag, info);
	if (!chunks.bext.empty())
		FromBext(tag, chunks.bext);
	FromAiffText(tag, chunks.text);
	for (size_t i = 0; i < kTagFields; i++) {
		if (!options.tags[i].empty())
			tag.Set(kOptionFrames[i], StringList(Clean(options.tags[i])), true);
	}
	InputTag result;
	result.bytes = tag.Render();
	if (chunks.leftOut) {
		result.note = "some of its tags were left out of the MP3 (more than "
			+ std::to_string(kMaxTagBytes >> 20) + " MB in all, or cut short)";
	}
	return result;
}

} // namespace

InputTag MakeInputTag(int fd, uint64_t fileSize, const Options& options)
{
	if (options.noTag)
		return {};
	try {
		return Make(fd, fileSize, options);
	} catch (const std::bad_alloc&) {
		InputTag none;
		none.note = "its tags were left out of the MP3: not enough memory";
		return none;
	}
}

} // namespace gogo
