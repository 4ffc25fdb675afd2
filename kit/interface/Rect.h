// BPoint and BRect. A rectangle includes both edges: a rect from 0 to 9 is
// drawn 10 pixels wide, and Width() is right - left.
#pragma once

#include <SupportDefs.h>

class BPoint {
public:
	constexpr BPoint() = default;
	constexpr BPoint(float px, float py) : x(px), y(py) {}
	constexpr bool operator==(const BPoint& o) const { return x == o.x && y == o.y; }
	constexpr bool operator!=(const BPoint& o) const { return !(*this == o); }
	constexpr BPoint operator+(const BPoint& o) const { return {x + o.x, y + o.y}; }
	constexpr BPoint operator-(const BPoint& o) const { return {x - o.x, y - o.y}; }
	float x = 0;
	float y = 0;
};

class BRect {
public:
	constexpr BRect() = default;
	constexpr BRect(float l, float t, float r, float b) : left(l), top(t), right(r), bottom(b) {}
	constexpr BRect(BPoint leftTop, BPoint rightBottom)
		: left(leftTop.x), top(leftTop.y), right(rightBottom.x), bottom(rightBottom.y) {}

	constexpr float Width() const { return right - left; }
	constexpr float Height() const { return bottom - top; }
	// Pixels covered, both edges included.
	constexpr int32 IntegerWidth() const { return int32(right - left); }
	constexpr int32 IntegerHeight() const { return int32(bottom - top); }
	constexpr bool IsValid() const { return left <= right && top <= bottom; }
	constexpr BPoint LeftTop() const { return {left, top}; }
	constexpr BPoint RightBottom() const { return {right, bottom}; }
	constexpr BPoint LeftBottom() const { return {left, bottom}; }
	constexpr BPoint RightTop() const { return {right, top}; }

	void Set(float l, float t, float r, float b) { left = l; top = t; right = r; bottom = b; }
	BRect& InsetBy(float dx, float dy)
	{
		left += dx; top += dy; right -= dx; bottom -= dy;
		return *this;
	}
	BRect& OffsetBy(float dx, float dy)
	{
		left += dx; top += dy; right += dx; bottom += dy;
		return *this;
	}
	BRect& OffsetTo(float x, float y) { return OffsetBy(x - left, y - top); }
	BRect& OffsetTo(BPoint p) { return OffsetTo(p.x, p.y); }
	BRect InsetByCopy(float dx, float dy) const { BRect r(*this); return r.InsetBy(dx, dy); }
	BRect OffsetByCopy(float dx, float dy) const { BRect r(*this); return r.OffsetBy(dx, dy); }
	BRect OffsetToCopy(float x, float y) const { BRect r(*this); return r.OffsetTo(x, y); }
	constexpr bool Contains(BPoint p) const
	{
		return p.x >= left && p.x <= right && p.y >= top && p.y <= bottom;
	}
	constexpr bool operator==(const BRect& o) const
	{
		return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
	}
	constexpr bool operator!=(const BRect& o) const { return !(*this == o); }

	float left = 0;
	float top = 0;
	float right = -1;
	float bottom = -1;
};
