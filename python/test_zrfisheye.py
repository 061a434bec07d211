"""The zrfisheye module against the library's geometry and its threaded dewarper."""
import math

import numpy as np
import pytest

import zrfisheye as zf

SIDE = 400  # radius None: 200
MOUNTS = ("ground", "ceiling", "wall")


@pytest.fixture(scope="module")
def scenes():
    return {m: zf.scene(m, SIDE) for m in MOUNTS}


def main_shape(mount, view, r):
    """(rows, cols) of the main view, from the lens geometry's sizes (multiples of 8)."""
    down8 = lambda n: int(n) // 8 * 8
    if mount == "wall":
        if view == "circle":
            return 2 * 9 * (r >> 3), 2 * 9 * (r >> 3)
        return down8(2 * r * 0.7), down8(2 * r)
    w, h = down8(r * 2 * math.pi), down8(r)
    return {"circle": (2 * r, 2 * r), "panorama": (h, w), "double": (2 * h, w // 16 * 8)}[view]


def same(a, b):
    return len(a) == len(b) and all(
        all(np.array_equal(p, q) for p, q in zip(x, y)) if isinstance(x, tuple) else np.array_equal(x, y)
        for x, y in zip(a, b))


@pytest.mark.parametrize("mount", MOUNTS)
@pytest.mark.parametrize("view", ("circle", "panorama", "double"))
def test_every_view_has_its_size(scenes, mount, view):
    d = zf.Dewarper(mount=mount, view=view, sub_views=2, sub_size=(320, 240))
    bgr = d.process(scenes[mount])
    assert d.radius == SIDE // 2
    h, w = main_shape(mount, view, SIDE // 2)
    assert [v.shape for v in bgr] == [(h, w, 3), (240, 320, 3), (240, 320, 3)]
    assert all(v.dtype == np.uint8 for v in bgr)
    planes = d.process(scenes[mount], format="yuv420")
    assert [tuple(p.shape for p in v) for v in planes] == [
        ((y, x), (y // 2, x // 2), (y // 2, x // 2)) for y, x in [(h, w), (240, 320), (240, 320)]]
    assert same([v[..., ::-1] for v in bgr], d.process(scenes[mount], format="rgb"))
    # A frame of another width moves the sub views' lens circle; the main view keeps its radius.
    assert [v.shape for v in d.process(zf.scene(mount, 256))] == [v.shape for v in bgr]
    # Fast mode: the same shapes, and pictures close to the exact ones.
    fast = zf.Dewarper(mount=mount, view=view, sub_views=2, sub_size=(320, 240), fast=True)
    assert fast.fast and not d.fast
    quick = fast.process(scenes[mount])
    assert [v.shape for v in quick] == [v.shape for v in bgr]
    assert all(np.mean(np.abs(q.astype(int) - b.astype(int))) < 8 for q, b in zip(quick, bgr))


@pytest.mark.parametrize("mount", MOUNTS)
def test_aim_zoom_and_angles_change_a_sub_view(scenes, mount):
    d = zf.Dewarper(mount=mount, sub_views=1)
    frame = scenes[mount]
    before = d.process(frame)[1]
    d.zoom(0, 18)
    zoomed = d.process(frame)[1]
    d.aim(0, 60, 40)
    aimed = d.process(frame)[1]
    if mount == "wall":
        d.set_wall_angles(0, -1.0, 0.2)
    else:
        d.set_angles(0, 45.0, 200.0)
    turned = d.process(frame)[1]
    for a, b in ((before, zoomed), (zoomed, aimed), (aimed, turned)):
        assert np.mean(a != b) > 0.2


def test_points_convert_as_the_library_does():
    d = zf.Dewarper(mount="ceiling", radius=1000)
    assert d.original_point(0, 0) == (1000, 0)
    assert d.original_point(0, 999) == (1000, 999)
    assert d.panorama_point(1000, 0) == (0, 0)
    assert d.original_point(0, 1000) is None  # below the panorama's last row
    d.view = "circle"  # the conversions belong to the panorama
    assert d.original_point(0, 0) is None and d.panorama_point(1000, 0) is None


def test_outlines_are_drawn_where_they_say(scenes):
    d = zf.Dewarper(mount="ceiling", view="circle", sub_views=2)
    frame = scenes["ceiling"]
    d.line_mask = 0
    bare = d.process(frame, "yuv420")[0][0]
    d.line_mask = 0b10
    drawn = d.process(frame, "yuv420")[0][0]
    points, centre = d.outline(1)
    assert points.dtype == np.int32 and points.shape[1] == 2 and len(points) > 8
    assert points.min() >= 0 and points.max() < SIDE
    assert all(bare[y, x] != drawn[y, x] for x, y in points)
    (xs, ys) = points.T
    assert xs.min() < centre[0] < xs.max() and ys.min() < centre[1] < ys.max()
    d.aim(1, 320, 200)
    moved, moved_centre = d.outline(1)
    assert moved_centre != centre and abs(moved_centre[0] - 320) < 40 and abs(moved_centre[1] - 200) < 40
    assert d.outline(5)[0].shape == (0, 2)  # no sub view there yet


@pytest.mark.parametrize("mount", ("ceiling", "wall"))
@pytest.mark.parametrize("lens", ({}, dict(lens="equisolid", fov=190.0)))
def test_bytes_are_the_threaded_dewarpers(scenes, mount, lens):
    settings = dict(mount=mount, sub_views=2, sub_size=(320, 240), **lens)
    d = zf.Dewarper(**settings)
    d.zoom(0, 15)  # before any frame: the radius is still unknown
    first = d.process(scenes[mount], "yuv420")
    d.aim(1, 150, 100)
    for fmt in ("yuv420", "bgr"):
        ours = d.process(scenes[mount], fmt)
        threaded, _ = zf._threaded_process(scenes[mount], format=fmt, zoom={0: 15}, aim={1: (150, 100)}, **settings)
        assert same(ours, threaded)
        if fmt == "yuv420":
            assert not np.array_equal(first[2][0], ours[2][0])  # the aim took effect
    # NV12 in: random luma, U pairs below 128 and V above, so the planes cannot trade places.
    nv12 = np.random.default_rng(7).integers(0, 256, (SIDE * 3 // 2, SIDE), dtype=np.uint8)
    nv12[SIDE:, 0::2] //= 2
    nv12[SIDE:, 1::2] |= 128
    ours = d.process(nv12, "yuv420")
    threaded, _ = zf._threaded_process(nv12, format="yuv420", zoom={0: 15}, aim={1: (150, 100)}, **settings)
    assert same(ours, threaded)
    assert all(np.median(u) < 128 < np.median(v) for _, u, v in ours)


def test_lens_is_taken_read_back_and_refused(scenes):
    builtin = zf.Dewarper(sub_views=1)
    assert builtin.lens == dict(lens="builtin", fov=None, k=None)
    d = zf.Dewarper(sub_views=1, lens="polynomial", fov=200, k=(0.01, 0, 0, 0))
    assert d.lens == dict(lens="polynomial", fov=200.0, k=(0.01, 0.0, 0.0, 0.0))
    ours, theirs = d.process(scenes["ceiling"]), builtin.process(scenes["ceiling"])
    assert all(a.shape == b.shape and np.mean(np.abs(a.astype(int) - b.astype(int))) > 5 for a, b in zip(ours, theirs))
    # What the property reads is what set_lens takes: the same lens, the same pictures.
    again = zf.Dewarper(sub_views=1)
    again.set_lens(**d.lens)
    assert same(again.process(scenes["ceiling"]), ours)
    refused = [dict(lens="fisheye"), dict(fov=190), dict(lens="equisolid", fov=0), dict(lens="equisolid", fov=331),
               dict(lens="orthographic", fov=181), dict(lens="equidistant", fov=math.nan),
               dict(lens="equisolid", k=(0, 0, 0, 0)), dict(lens="polynomial", k=(0.1, 0, 0)),
               dict(lens="polynomial", k=(math.inf, 0, 0, 0)), dict(lens="polynomial", fov=190, k=(-0.3, 0, 0, 0))]
    for kwargs in refused:
        with pytest.raises(ValueError):
            zf.Dewarper(**kwargs)
        with pytest.raises(ValueError):
            d.set_lens(**kwargs)
        with pytest.raises(ValueError):
            zf._threaded_process(scenes["ceiling"], **kwargs)
    assert d.lens["lens"] == "polynomial"  # the refusals changed nothing
    d.set_lens()
    assert d.lens["lens"] == "builtin" and same(d.process(scenes["ceiling"]), theirs)


def test_a_non_contiguous_frame_is_copied(scenes):
    d = zf.Dewarper(sub_views=1)
    wide = np.concatenate([scenes["ceiling"]] * 2, axis=1)
    crop = wide[:, 100:100 + SIDE]
    assert not crop.flags.c_contiguous
    assert same(d.process(crop), d.process(np.ascontiguousarray(crop)))


def test_bad_input_raises(scenes):
    frame = scenes["ceiling"]
    d = zf.Dewarper(sub_views=1)
    with pytest.raises(RuntimeError, match="radius"):
        d.aim(0, 10, 10)  # no frame yet, no radius given
    cases = [
        (TypeError, "uint8", lambda: d.process(frame.astype(np.float32))),
        (TypeError, "numpy", lambda: d.process(frame.tolist())),
        (ValueError, "shape", lambda: d.process(frame[..., :2])),
        (ValueError, "shape", lambda: d.process(np.zeros(SIDE, np.uint8))),
        (ValueError, "multiple of 3", lambda: d.process(np.zeros((SIDE + 1, SIDE), np.uint8))),
        (ValueError, "even", lambda: d.process(frame[:-1, :-1])),
        (ValueError, "format", lambda: d.process(frame, "hsv")),
        (ValueError, "mount", lambda: zf.Dewarper(mount="roof")),
        (ValueError, "mount", lambda: setattr(d, "mount", "roof")),
        (ValueError, "mount", lambda: zf.scene("roof")),
        (ValueError, "view", lambda: zf.Dewarper(view="fisheye")),
        (ValueError, "view", lambda: setattr(d, "view", "fisheye")),
        (ValueError, "index", lambda: d.zoom(8, 3)),
        (ValueError, "index", lambda: d.aim(-1, 0, 0)),
        (ValueError, "index", lambda: d.set_angles(8, 10.0, 10.0)),
        (ValueError, "index", lambda: d.outline(9)),
        (ValueError, "zoom level", lambda: d.zoom(0, 21)),
        (ValueError, "zoom level", lambda: d.zoom(0, -1)),
        (ValueError, "sub_views", lambda: setattr(d, "sub_views", 9)),
        (ValueError, "wall", lambda: d.set_wall_angles(0, 0.1, 0.1)),
        (ValueError, "finite", lambda: d.set_angles(0, float("nan"), 0.0)),
        (TypeError, "radius", lambda: zf.Dewarper(radius="big")),
    ]
    for kind, words, call in cases:
        with pytest.raises(kind, match=words):
            call()
    assert [v.shape[2] for v in d.process(frame)] == [3, 3]  # still usable afterwards
