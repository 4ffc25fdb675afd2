// Removals from a list view in one batch, each above the one before, as a
// program makes them when it takes out the selected rows from the bottom up.
// They all count rows as they were before the first one, so a display can
// make them in one pass instead of one pass each: with a hundred thousand
// rows, the difference between milliseconds and minutes.
#pragma once

#include <DisplayProtocol.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace BPrivate {

// Rows [first, second) of the list as it was before the run.
using RowRange = std::pair<int32, int32>;

struct RemovalRun {
	std::vector<RowRange> ranges; // ascending, apart from each other
	size_t operations = 0;        // how many operations they come from
};

// The run of removals that starts at `at`, for a list of `rowCount` rows.
// Empty (no operations) unless at least two removals of the same view make
// one; a removal that is not above the one before ends it.
inline RemovalRun FindRemovalRun(const std::vector<Operation>& operations, size_t at,
	int32 rowCount)
{
	RemovalRun run;
	const auto* first = std::get_if<ListRemove>(&operations[at]);
	if (first == nullptr || first->index < 0 || first->index >= rowCount || first->count <= 0)
		return run;
	run.ranges.emplace_back(first->index, first->index + std::min(first->count, rowCount - first->index));
	size_t next = at + 1;
	for (; next < operations.size(); next++) {
		const auto* op = std::get_if<ListRemove>(&operations[next]);
		if (op == nullptr || op->view != first->view || op->index < 0 || op->count <= 0
			|| op->count > run.ranges.back().first - op->index)
			break;
		run.ranges.emplace_back(op->index, op->index + op->count);
	}
	if (run.ranges.size() < 2)
		return RemovalRun{};
	std::reverse(run.ranges.begin(), run.ranges.end());
	run.operations = next - at;
	return run;
}

// Takes the rows in the ranges out of `rows`, keeping the order of the rest.
template <typename T>
void EraseRanges(std::vector<T>& rows, const std::vector<RowRange>& ranges)
{
	size_t kept = 0;
	size_t range = 0;
	for (size_t i = 0; i < rows.size(); i++) {
		while (range < ranges.size() && int32(i) >= ranges[range].second)
			range++;
		if (range < ranges.size() && int32(i) >= ranges[range].first)
			continue;
		if (kept != i)
			rows[kept] = std::move(rows[i]);
		kept++;
	}
	rows.resize(kept);
}

// Row numbers (ascending) as they are after the ranges went: those in a
// range are gone, the others move up by the rows removed above them.
inline std::vector<int32> RowsAfterRemoval(const std::vector<int32>& rows,
	const std::vector<RowRange>& ranges)
{
	std::vector<int32> after;
	after.reserve(rows.size());
	size_t range = 0;
	int32 removed = 0;
	for (int32 row : rows) {
		while (range < ranges.size() && row >= ranges[range].second) {
			removed += ranges[range].second - ranges[range].first;
			range++;
		}
		if (range < ranges.size() && row >= ranges[range].first)
			continue;
		after.push_back(row - removed);
	}
	return after;
}

// Where `row`, or the first row after it that stays, is once the ranges
// went: the rows removed above it are counted off.
inline int32 PlaceAfterRemoval(int32 row, const std::vector<RowRange>& ranges)
{
	int32 place = row;
	for (const RowRange& range : ranges) {
		if (range.first >= row)
			break;
		place -= std::min(range.second, row) - range.first;
	}
	return place;
}

} // namespace BPrivate
