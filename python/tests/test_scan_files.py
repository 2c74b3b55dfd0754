"""The files vorexctl scan writes, opened by other programs' readers (Open3D
for the clouds, PIL for the pictures, NumPy for the CSV) and compared with
the map they were made from: a scan of the simulator's part with a lost
profile, written by vorex-py-scan-files."""
import pathlib
import subprocess

import numpy as np
import pytest

from conftest import BUILD

WRITER = str(BUILD / "python" / "vorex-py-scan-files")
open3d = pytest.importorskip("open3d")
Image = pytest.importorskip("PIL.Image")


@pytest.fixture(scope="module")
def scan(tmp_path_factory):
    d = tmp_path_factory.mktemp("scan")
    subprocess.run([WRITER, str(d)], check=True)
    raw = (d / "map.bin").read_bytes()
    rows, columns = np.frombuffer(raw, np.uint32, count=2)
    x_origin, x_step, y_step = np.frombuffer(raw, np.float64, count=3, offset=8)
    z = np.frombuffer(raw, np.float32, offset=32).reshape(rows, columns)
    return d, z, (x_origin, x_step, y_step)


def cloud_of(z, grid):
    """The measured cells as (x, y, z), row by row: what the clouds hold."""
    x_origin, x_step, y_step = grid
    r, c = np.nonzero(~np.isnan(z))
    return np.column_stack([x_origin + c * x_step, r * y_step, z[r, c]])


def test_the_map_has_the_lost_row_and_measured_parts(scan):
    _, z, (_, _, y_step) = scan
    assert z.shape[0] == 150, "149 profiles and the lost one's row"
    assert abs(z.shape[1] - 648) <= 1, "a column for each of the 648 points"
    assert y_step == pytest.approx(2.0)
    assert np.isnan(z[30]).all()
    assert not np.isnan(z[29]).all() and not np.isnan(z[31]).all()
    assert np.nanmin(z) < 215 and np.nanmax(z) == 250


def test_tiff_is_the_float_map_with_its_spacing(scan):
    d, z, (_, x_step, y_step) = scan
    with Image.open(d / "scan.tiff") as im:
        assert im.mode == "F"
        np.testing.assert_array_equal(np.asarray(im), z)
        assert im.tag_v2[296] == 3  # resolution in centimetres
        assert 10 / float(im.tag_v2[282]) == pytest.approx(x_step, rel=1e-6)
        assert 10 / float(im.tag_v2[283]) == pytest.approx(y_step, rel=1e-6)


def test_gray16_png_gives_the_heights_by_its_stated_scale(scan):
    d, z, _ = scan
    with Image.open(d / "scan16.png") as im:
        assert im.mode in ("I;16", "I")
        values = np.asarray(im).astype(np.float64)
        offset = float(im.text["vorex:z_offset_mm"])
        step = float(im.text["vorex:z_step_mm"])
    assert values.shape == z.shape
    np.testing.assert_array_equal(values == 0, np.isnan(z))
    measured = ~np.isnan(z)
    np.testing.assert_allclose(offset + (values[measured] - 1) * step, z[measured], atol=step / 2 + 1e-6)


def test_colour_png_shows_far_dark_near_bright_and_missing_grey(scan):
    d, z, (_, x_step, y_step) = scan
    with Image.open(d / "scan.png") as im:
        assert im.mode == "RGB"
        pixels = np.asarray(im)
        assert "Description" in im.text
    scale = y_step / x_step  # rows repeated for square pixels
    assert pixels.shape[1] >= z.shape[1]
    row_of = lambda r: int((r + 0.5) * scale)
    far = np.unravel_index(np.nanargmax(z), z.shape)
    near = np.unravel_index(np.nanargmin(z), z.shape)
    assert tuple(pixels[row_of(far[0]), far[1]]) == (68, 1, 84)
    assert tuple(pixels[row_of(near[0]), near[1]]) == (253, 231, 37)
    assert tuple(pixels[row_of(30), 10]) == (150, 150, 150)


@pytest.mark.parametrize("name,unit", [("scan.ply", 1.0), ("scan.pcd", 1.0), ("scan_m.ply", 0.001), ("scan_m.pcd", 0.001)])
def test_clouds_open_in_open3d_with_every_measured_cell(scan, name, unit):
    d, z, grid = scan
    cloud = open3d.io.read_point_cloud(str(d / name))
    points = np.asarray(cloud.points)
    expected = cloud_of(z, grid) * unit
    assert points.shape == expected.shape
    np.testing.assert_allclose(points, expected.astype(np.float32), rtol=1e-6)


@pytest.mark.parametrize("name,unit", [("scan.csv", 1.0), ("scan_m.csv", 0.001)])
def test_csv_holds_x_y_z_rows(scan, name, unit):
    d, z, grid = scan
    table = np.loadtxt(d / name, delimiter=",", skiprows=1)
    np.testing.assert_allclose(table, cloud_of(z, grid) * unit, rtol=1e-8)
