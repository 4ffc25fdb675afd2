// Lays frames that carry their own main data out as one Layer III stream,
// each frame's main data as early as the bit reservoir allows: right after
// the previous frame's, but no further back than main_data_begin can say
// (511 bytes in MPEG-1, 255 in MPEG-2) nor than LAME's own buffer limit
// (a frame plus the reservoir the next one reaches back into within 7680
// bits a granule).
// Space no frame's data uses stays zero (ancillary data).
//
// Laying each frame out as early as it can leaves the most room for the
// ones after it, so a frame that fitted in its own stream fits here once
// the reservoir in front of it is at least its own main_data_begin was, and
// so do all the frames after it from that stream.
//
// Bytes go to the sink as soon as no later frame can change them, so
// memory stays at a few frames' worth.
#pragma once

#include "Mp3Frame.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace gogo {

class Mp3Repacker {
public:
	// Takes the next final bytes of the stream; false stops the repacker.
	using Sink = std::function<bool(const unsigned char* data, size_t size)>;

	explicit Mp3Repacker(Sink sink);

	// The bytes of reservoir a frame of this header placed next could start
	// back by.
	int Reservoir(const FrameHeader& next) const;

	// Whether the frame would fit as it is.
	bool Fits(const Mp3Frame& frame) const;

	// Where the layout stands: all that placing the next frame depends on.
	struct Room {
		uint64_t streamEnd = 0;     // payload bytes laid out so far
		uint64_t dataEnd = 0;       // where the last frame's main data ends
		int previousFrameBytes = 0;
		bool started = false;

		// The bytes of reservoir a frame of this header placed next could
		// start back by.
		int Reservoir(const FrameHeader& next) const;
		// Places frame as it is (the caller knows it fits); false if it
		// does not.
		bool Place(const Mp3Frame& frame);
		// Whether frames[from] and those after it can be placed as they
		// are, none enlarged: each fits in turn, until one whose reservoir
		// is at least its own main_data_begin (it and all after it fit for
		// good). A frame placed with less reservoir than it had starts its
		// data later, and the frames after it carry that shortfall until
		// their own stream has room to spare.
		bool FitsOnward(const std::vector<Mp3Frame>& frames, size_t from) const;
	};
	const Room& Layout() const { return fRoom; }

	enum class Placed {
		AsItWas,
		Enlarged,   // its bit rate was raised so that its main data fits
		NoRoom,     // did not fit (and could not or might not grow): not added
		SinkFailed  // the sink refused bytes; nothing more is taken
	};
	// Adds the next frame, rewriting its main_data_begin (and with mayEnlarge
	// its bit rate index when it does not fit otherwise).
	Placed Add(Mp3Frame& frame, bool mayEnlarge);

	// Hands the rest to the sink; false when it refused.
	bool Finish();

	int64_t Frames() const { return fFrames; }
	uint64_t Bytes() const { return fFileEnd; }

private:
	struct Slot {
		uint64_t fileStart;   // of its payload, in the output
		uint64_t streamStart; // of its payload, counted over payloads
		int bytes;
	};

	Room fRoom;
	void CopyToStream(uint64_t streamPosition, const unsigned char* data, size_t size);
	bool Emit(uint64_t fileOffset);

	Sink fSink;
	std::vector<unsigned char> fPending; // output from fPendingStart on
	uint64_t fPendingStart = 0;
	uint64_t fFileEnd = 0;
	std::deque<Slot> fSlots;  // those still open to main data
	int64_t fFrames = 0;
	bool fFailed = false;
};

} // namespace gogo
