#include "Mp3Repacker.h"

#include <algorithm>
#include <cstring>

namespace gogo {

namespace {

// LAME's buffer for a frame and the reservoir behind it (7680 bits a
// granule, its default): the reservoir a frame leaves is at most this less
// the frame's own size.
int FrameBuffer(const FrameHeader& header)
{
	return header.version == 1 ? 1920 : 960;
}

} // namespace

Mp3Repacker::Mp3Repacker(Sink sink) : fSink(std::move(sink)) {}

int Mp3Repacker::Room::Reservoir(const FrameHeader& next) const
{
	if (!started)
		return 0;
	const int cap = std::max(0, std::min(next.MaxMainDataBegin(), FrameBuffer(next) - previousFrameBytes));
	return static_cast<int>(std::min<uint64_t>(streamEnd - dataEnd, static_cast<uint64_t>(cap)));
}

bool Mp3Repacker::Room::Place(const Mp3Frame& frame)
{
	const int reservoir = Reservoir(frame.header);
	const int payload = frame.header.PayloadBytes();
	if (frame.MainDataBytes() > reservoir + payload)
		return false;
	const uint64_t begin = streamEnd - static_cast<uint64_t>(reservoir);
	streamEnd += static_cast<uint64_t>(payload);
	dataEnd = begin + static_cast<uint64_t>(frame.MainDataBytes());
	previousFrameBytes = frame.header.frameBytes;
	started = true;
	return true;
}

bool Mp3Repacker::Room::FitsOnward(const std::vector<Mp3Frame>& frames, size_t from) const
{
	Room room = *this;
	for (size_t i = from; i < frames.size(); i++) {
		if (room.Reservoir(frames[i].header) >= frames[i].mainDataBegin)
			return true;
		if (!room.Place(frames[i]))
			return false;
	}
	// The frames end before they fit for good: each of them fitted.
	return true;
}

int Mp3Repacker::Reservoir(const FrameHeader& next) const
{
	return fRoom.Reservoir(next);
}

bool Mp3Repacker::Fits(const Mp3Frame& frame) const
{
	return frame.MainDataBytes() <= Reservoir(frame.header) + frame.header.PayloadBytes();
}

void Mp3Repacker::CopyToStream(uint64_t streamPosition, const unsigned char* data, size_t size)
{
	for (const Slot& slot : fSlots) {
		if (size == 0)
			break;
		const uint64_t slotEnd = slot.streamStart + static_cast<uint64_t>(slot.bytes);
		if (streamPosition >= slotEnd)
			continue;
		const uint64_t offset = streamPosition - slot.streamStart;
		const size_t count = static_cast<size_t>(std::min<uint64_t>(size, slotEnd - streamPosition));
		std::memcpy(fPending.data() + (slot.fileStart + offset - fPendingStart), data, count);
		data += count;
		size -= count;
		streamPosition += count;
	}
}

bool Mp3Repacker::Emit(uint64_t fileOffset)
{
	if (fileOffset <= fPendingStart)
		return true;
	const size_t count = static_cast<size_t>(fileOffset - fPendingStart);
	if (!fSink(fPending.data(), count)) {
		fFailed = true;
		return false;
	}
	fPending.erase(fPending.begin(), fPending.begin() + static_cast<std::ptrdiff_t>(count));
	fPendingStart = fileOffset;
	return true;
}

Mp3Repacker::Placed Mp3Repacker::Add(Mp3Frame& frame, bool mayEnlarge)
{
	if (fFailed)
		return Placed::SinkFailed;
	const int reservoir = Reservoir(frame.header);
	const int needed = frame.MainDataBytes();
	Placed placed = Placed::AsItWas;
	if (needed > reservoir + frame.header.PayloadBytes()) {
		if (!mayEnlarge)
			return Placed::NoRoom;
		int index = frame.header.bitrateIndex + 1;
		for (; index <= 14; index++) {
			const int payload = FrameBytesFor(frame.header, index) - frame.header.PrefixBytes();
			if (needed <= reservoir + payload)
				break;
		}
		if (index > 14)
			return Placed::NoRoom;
		SetBitrateIndex(frame, index);
		placed = Placed::Enlarged;
	}

	const uint64_t begin = fRoom.streamEnd - static_cast<uint64_t>(reservoir);
	SetMainDataBegin(frame, reservoir);
	const int prefixBytes = frame.header.PrefixBytes();
	const int payloadBytes = frame.header.PayloadBytes();
	fPending.insert(fPending.end(), frame.prefix.begin(), frame.prefix.begin() + prefixBytes);
	fPending.resize(fPending.size() + static_cast<size_t>(payloadBytes), 0);
	fSlots.push_back(Slot{fFileEnd + static_cast<uint64_t>(prefixBytes), fRoom.streamEnd, payloadBytes});
	fFileEnd += static_cast<uint64_t>(frame.header.frameBytes);
	fRoom.streamEnd += static_cast<uint64_t>(payloadBytes);
	CopyToStream(begin, frame.mainData.data(), frame.mainData.size());
	fRoom.dataEnd = begin + static_cast<uint64_t>(needed);
	fRoom.previousFrameBytes = frame.header.frameBytes;
	fRoom.started = true;
	fFrames++;

	// What no later frame can reach is final: before this frame's data end
	// and further back than any main_data_begin goes.
	const uint64_t reach = fRoom.streamEnd > 511 ? fRoom.streamEnd - 511 : 0;
	const uint64_t open = std::max(fRoom.dataEnd, reach);
	while (!fSlots.empty()
			&& fSlots.front().streamStart + static_cast<uint64_t>(fSlots.front().bytes) <= open) {
		fSlots.pop_front();
	}
	uint64_t finalEnd = fFileEnd;
	if (!fSlots.empty()) {
		const Slot& slot = fSlots.front();
		finalEnd = slot.fileStart + (open > slot.streamStart ? open - slot.streamStart : 0);
	}
	if (!Emit(finalEnd))
		return Placed::SinkFailed;
	return placed;
}

bool Mp3Repacker::Finish()
{
	if (fFailed)
		return false;
	fSlots.clear();
	return Emit(fFileEnd);
}

} // namespace gogo
