#include "MetadataChunks.h"
#include "ChunkBytes.h"

#include <ogg/ogg.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace gogo {

namespace {

// The fixed part of a bext chunk (description to reserved bytes); the coding
// history after it is not carried into a tag.
constexpr uint64_t kBextFields = 602;

bool Named(const unsigned char* name, const char* expected)
{
	return std::memcmp(name, expected, 4) == 0;
}

class Collector {
public:
	Collector(int fd, uint64_t fileSize, size_t budget) : fFd(fd), fFileSize(fileSize), fLeft(budget) {}

	int Fd() const { return fFd; }
	uint64_t FileSize() const { return fFileSize; }
	MetadataChunks& Chunks() { return fChunks; }
	MetadataChunks Take() { return std::move(fChunks); }

	// Appends size bytes at offset to list; a part the file does not hold
	// whole, or the budget has no room for, is left out.
	void Read(uint64_t offset, uint64_t size, std::vector<std::string>& list)
	{
		std::string bytes;
		if (Read(offset, size, bytes))
			list.push_back(std::move(bytes));
	}
	bool Read(uint64_t offset, uint64_t size, std::string& bytes)
	{
		if (offset > fFileSize || size > fFileSize - offset || size > fLeft) {
			fChunks.leftOut = true;
			return false;
		}
		try {
			bytes.resize(static_cast<size_t>(size));
		} catch (const std::bad_alloc&) {
			fChunks.leftOut = true;
			return false;
		}
		if (!ReadAt(fFd, offset, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size())) {
			fChunks.leftOut = true;
			return false;
		}
		fLeft -= static_cast<size_t>(size);
		return true;
	}
	// Reading bytes the budget counts without keeping them (Ogg pages).
	bool Spend(size_t size)
	{
		if (size > fLeft) {
			fChunks.leftOut = true;
			return false;
		}
		fLeft -= size;
		return true;
	}

private:
	int fFd;
	uint64_t fFileSize;
	size_t fLeft;
	MetadataChunks fChunks;
};

// A LIST chunk's body, kept when it is of type INFO.
void ReadList(Collector& in, uint64_t body, uint64_t size)
{
	unsigned char type[4];
	if (size >= 4 && ReadAt(in.Fd(), body, type, sizeof(type)) && Named(type, "INFO"))
		in.Read(body, size, in.Chunks().info);
}

void ReadBext(Collector& in, uint64_t body, uint64_t size)
{
	std::string fields;
	if (in.Read(body, std::min(size, kBextFields), fields))
		in.Chunks().bext = std::move(fields);
}

// WAV, RIFX, RF64, BW64: every chunk, the data chunk skipped by its size.
// Where that size is not known (0, or 0xffffffff without ds64) the audio
// runs to the end of the file, and nothing follows it.
bool WalkRiff(Collector& in)
{
	unsigned char head[12];
	if (!ReadAt(in.Fd(), 0, head, sizeof(head)) || !Named(head + 8, "WAVE"))
		return false;
	const bool bigEndian = Named(head, "RIFX");
	const bool sixtyFour = Named(head, "RF64") || Named(head, "BW64");
	if (!bigEndian && !sixtyFour && !Named(head, "RIFF"))
		return false;
	const uint64_t fileSize = in.FileSize();
	uint64_t longDataSize = 0;
	bool haveLongSize = false;
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(in.Fd(), offset, header, sizeof(header)) || !PlausibleName(header))
			break;
		uint64_t size = Unsigned(header + 4, 4, bigEndian);
		const uint64_t body = offset + 8;
		if (Named(header, "ds64") && size >= 24) {
			unsigned char fields[8];
			haveLongSize = ReadAt(in.Fd(), body + 8, fields, sizeof(fields));
			longDataSize = Unsigned(fields, 8, false);
		} else if (Named(header, "data")) {
			if (size == 0xffffffff && sixtyFour && haveLongSize)
				size = longDataSize;
			else if (size == 0 || size == 0xffffffff)
				break;
		} else if (Named(header, "LIST")) {
			ReadList(in, body, size);
		} else if (Named(header, "id3 ") || Named(header, "ID3 ")) {
			in.Read(body, size, in.Chunks().id3);
		} else if (Named(header, "bext")) {
			ReadBext(in, body, size);
		}
		if (size > fileSize - body)
			break;
		offset = body + size + (size & 1);
	}
	return true;
}

// Sony Wave64: chunks named by GUIDs (the first four bytes say which), with
// 64-bit sizes that count the 24-byte header, aligned to 8 bytes.
bool WalkWave64(Collector& in)
{
	static const unsigned char kRiff[16] = {'r', 'i', 'f', 'f', 0x2e, 0x91, 0xcf, 0x11, 0xa5, 0xd6,
		0x28, 0xdb, 0x04, 0xc1, 0x00, 0x00};
	unsigned char head[40];
	if (!ReadAt(in.Fd(), 0, head, sizeof(head)) || std::memcmp(head, kRiff, 16) != 0
			|| !Named(head + 24, "wave")) {
		return false;
	}
	const uint64_t fileSize = in.FileSize();
	uint64_t offset = 40;
	for (int chunk = 0; chunk < kMaxChunks && offset + 24 <= fileSize; chunk++) {
		unsigned char header[24];
		if (!ReadAt(in.Fd(), offset, header, sizeof(header)))
			break;
		const uint64_t size = Unsigned(header + 16, 8, false);
		if (size < 24)
			break;
		const uint64_t body = offset + 24;
		if (Named(header, "list") || Named(header, "LIST"))
			ReadList(in, body, size - 24);
		else if (Named(header, "id3 ") || Named(header, "ID3 "))
			in.Read(body, size - 24, in.Chunks().id3);
		else if (Named(header, "bext"))
			ReadBext(in, body, size - 24);
		if (size > fileSize - offset)
			break;
		offset += (size + 7) & ~uint64_t{7};
	}
	return true;
}

// AIFF and AIFF-C.
bool WalkAiff(Collector& in)
{
	unsigned char head[12];
	if (!ReadAt(in.Fd(), 0, head, sizeof(head)) || !Named(head, "FORM")
			|| (!Named(head + 8, "AIFF") && !Named(head + 8, "AIFC"))) {
		return false;
	}
	const uint64_t fileSize = in.FileSize();
	uint64_t offset = 12;
	for (int chunk = 0; chunk < kMaxChunks && offset + 8 <= fileSize; chunk++) {
		unsigned char header[8];
		if (!ReadAt(in.Fd(), offset, header, sizeof(header)) || !PlausibleName(header))
			break;
		const uint64_t size = Unsigned(header + 4, 4, true);
		const uint64_t body = offset + 8;
		if (Named(header, "NAME") || Named(header, "AUTH") || Named(header, "(c) ")
				|| Named(header, "ANNO")) {
			std::string text;
			if (in.Read(body, size, text))
				in.Chunks().text.emplace_back(std::string(reinterpret_cast<char*>(header), 4), std::move(text));
		} else if (Named(header, "ID3 ") || Named(header, "id3 ")) {
			in.Read(body, size, in.Chunks().id3);
		}
		if (size > fileSize - body)
			break;
		offset = body + size + (size & 1);
	}
	return true;
}

// FLAC, after an ID3v2 tag or not: its metadata blocks up to the last.
bool WalkFlac(Collector& in)
{
	unsigned char head[10];
	if (!ReadAt(in.Fd(), 0, head, sizeof(head)))
		return false;
	const uint64_t start = Id3v2TagSize(head);
	unsigned char magic[4];
	if (!ReadAt(in.Fd(), start, magic, sizeof(magic)) || !Named(magic, "fLaC"))
		return false;
	if (start > 0)
		in.Read(0, start, in.Chunks().id3);
	uint64_t offset = start + 4;
	for (int block = 0; block < kMaxChunks; block++) {
		unsigned char header[4];
		if (!ReadAt(in.Fd(), offset, header, sizeof(header)))
			break;
		const int type = header[0] & 0x7f;
		const uint64_t size = Unsigned(header + 1, 3, true);
		if (type == 4)
			in.Read(offset + 4, size, in.Chunks().vorbisComments);
		else if (type == 6)
			in.Read(offset + 4, size, in.Chunks().pictures);
		if ((header[0] & 0x80) != 0)
			break;
		offset += 4 + size;
	}
	return true;
}

// The header a comment packet begins with, by the codec: Vorbis, Opus, and
// FLAC in Ogg (a metadata block's header). 0 when it is not one.
size_t CommentPacketHeader(const unsigned char* packet, long size)
{
	if (size >= 7 && std::memcmp(packet, "\x03vorbis", 7) == 0)
		return 7;
	if (size >= 8 && std::memcmp(packet, "OpusTags", 8) == 0)
		return 8;
	if (size >= 4 && (packet[0] & 0x7f) == 4)
		return 4;
	return 0;
}

// Ogg: the comment packet (the second) of the stream the file begins with,
// assembled by libogg from pages read in order; the pages read count
// against the budget.
bool WalkOgg(Collector& in)
{
	unsigned char magic[4];
	if (!ReadAt(in.Fd(), 0, magic, sizeof(magic)) || !Named(magic, "OggS"))
		return false;
	constexpr long kStep = 65536;
	ogg_sync_state sync;
	ogg_sync_init(&sync);
	ogg_stream_state stream;
	bool streamOpen = false;
	int packets = 0;
	uint64_t offset = 0;
	bool done = false;
	while (!done && offset < in.FileSize()) {
		const long want = static_cast<long>(std::min<uint64_t>(kStep, in.FileSize() - offset));
		char* buffer = ogg_sync_buffer(&sync, want);
		if (buffer == nullptr || !in.Spend(static_cast<size_t>(want))
				|| !ReadAt(in.Fd(), offset, reinterpret_cast<unsigned char*>(buffer),
					static_cast<size_t>(want))) {
			break;
		}
		ogg_sync_wrote(&sync, want);
		offset += static_cast<uint64_t>(want);
		ogg_page page;
		while (!done && ogg_sync_pageout(&sync, &page) == 1) {
			if (!streamOpen) {
				if (!ogg_page_bos(&page))
					continue;
				ogg_stream_init(&stream, ogg_page_serialno(&page));
				streamOpen = true;
			}
			if (ogg_stream_pagein(&stream, &page) != 0)
				continue; // another stream's page
			ogg_packet packet;
			while (!done && ogg_stream_packetout(&stream, &packet) == 1) {
				if (++packets < 2)
					continue;
				const size_t skip = CommentPacketHeader(packet.packet, packet.bytes);
				if (skip > 0) {
					in.Chunks().vorbisComments.emplace_back(
						reinterpret_cast<const char*>(packet.packet) + skip,
						static_cast<size_t>(packet.bytes) - skip);
				}
				done = true;
			}
		}
	}
	if (streamOpen)
		ogg_stream_clear(&stream);
	ogg_sync_clear(&sync);
	return true;
}

} // namespace

MetadataChunks ReadMetadataChunks(int fd, uint64_t fileSize, size_t budget)
{
	Collector in(fd, fileSize, budget);
	try {
		if (!WalkRiff(in) && !WalkWave64(in) && !WalkAiff(in) && !WalkFlac(in))
			WalkOgg(in);
	} catch (const std::bad_alloc&) {
		in.Chunks().leftOut = true;
	}
	return in.Take();
}

} // namespace gogo
