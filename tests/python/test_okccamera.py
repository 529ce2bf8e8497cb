"""The okccamera module over simulated cameras."""
import ctypes
import threading

import numpy as np
import pytest

import okccamera
from conftest import simulated

# Small regions: USB 2 models take windows of a multiple of 1024 pixels.
REGION = (64, 32, 128, 64)


@pytest.mark.parametrize("model", ["TAVC", "TAVM", "TAVC-U", "TAVM-U"])
def test_each_format_gives_its_shape_and_dtype(model):
    simulated(model)
    expected = {"raw8": ((32, 64), np.uint8), "raw16": ((32, 64), np.uint16),
                "rgb24": ((32, 64, 3), np.uint8), "y8": ((32, 64), np.uint8)}
    with okccamera.Camera(0) as cam:
        assert cam.model == "YRA OKC" + model
        cam.exposure = 5000
        assert "raw8" in cam.formats and ("rgb24" in cam.formats) == cam.is_color
        for name, (shape, dtype) in expected.items():
            if name not in cam.formats:
                with pytest.raises(okccamera.Error, match="does not deliver"):
                    cam.format = name
                continue
            cam.format = name
            cam.region = REGION
            frame = cam.capture()
            assert (frame.shape, frame.dtype, cam.format) == (shape, dtype, name)
            assert frame.flags["C_CONTIGUOUS"] and frame.flags["WRITEABLE"]
            info = cam.frame_info
            assert (info["width"], info["height"], info["exposure_us"]) == (64, 32, 5000)
        cam.format = "raw8"
        cam.binning = 2
        cam.region = (32, 32)
        assert cam.capture().shape == (32, 32) and cam.frame_info["bin"] == 2


def c_frame(clib, width, height, bytes_per_pixel):
    """A frame through the exported C functions, in their layout (B, G, R for colour)."""
    buffer = (ctypes.c_ubyte * (width * height * bytes_per_pixel))()
    clib.startCapture()
    got = clib.getImageData(buffer, len(buffer), 5000)
    clib.stopCapture()
    assert got
    shape = (height, width, 3) if bytes_per_pixel == 3 else (height, width)
    return np.frombuffer(buffer, np.uint8).reshape(shape).copy()


def test_stars_are_where_the_c_interface_puts_them(tavc, clib):
    width, height = tavc.sensor_size
    full = c_frame(clib, width, height, 1)
    # A region off the centre, so that the camera's left-right mirror would show.
    w, h, x, y = 320, 240, 200, 360
    tavc.region = (w, h, x, y)
    assert tavc.region == (w, h, x, y)
    frame = tavc.capture()
    crop = full[y:y + h, x:x + w]
    stars, stars_here = crop > 200, frame > 200
    assert stars.sum() >= 10  # the scene has stars in this region
    assert (frame[stars] > 120).all() and (crop[stars_here] > 120).all()
    assert np.abs(frame.astype(int) - crop).mean() < 8  # the same sky, up to noise


def test_colour_frames_are_red_green_blue(tavc, clib):
    width, height = tavc.sensor_size
    assert clib.setImageFormat(width, height, 1, 1)  # RGB24: blue, green, red
    bgr = c_frame(clib, width, height, 3)
    tavc.format = "rgb24"
    w, h, x, y = 320, 240, 200, 360
    tavc.region = (w, h, x, y)
    rgb = tavc.capture()
    crop = bgr[y:y + h, x:x + w]
    means = rgb.reshape(-1, 3).mean(axis=0)
    c_means = crop.reshape(-1, 3).mean(axis=0)
    assert abs(means[0] - means[2]) > 1  # red and blue differ under this white balance
    assert means == pytest.approx(c_means[::-1], abs=0.5)


def test_context_manager_closes_the_camera_after_an_exception(clib):
    simulated("TAVC")
    with pytest.raises(ZeroDivisionError):
        with okccamera.Camera(0) as cam:
            1 / 0
    assert cam.closed
    assert clib.getWidth() == 0  # the library has no open camera
    with pytest.raises(okccamera.Error, match="closed"):
        cam.capture()
    with okccamera.Camera(0) as again:  # free to open again
        assert not again.closed


def test_two_threads_capturing_from_one_camera_get_whole_frames_in_turn(tavc):
    tavc.region = REGION
    results, errors = [], []

    def capture_some():
        for _ in range(4):
            try:
                results.append(tavc.capture())
            except okccamera.Error as e:
                errors.append(e)

    threads = [threading.Thread(target=capture_some) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) + len(errors) == 8
    assert len(results) >= 1
    assert all(frame.shape == (32, 64) for frame in results)


def test_closing_on_another_thread_ends_a_wait_with_an_error(tavc):
    tavc.exposure = 2000000  # two seconds: the close comes first
    outcome = []

    def capture():
        try:
            outcome.append(tavc.capture())
        except okccamera.Error as e:
            outcome.append(e)

    t = threading.Thread(target=capture)
    t.start()
    t.join(0.3)
    tavc.close()
    t.join()
    assert isinstance(outcome[0], okccamera.Error)


def test_frames_wait_without_the_gil(tavc):
    tavc.region = REGION
    tavc.exposure = 300000
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.005)

    t = threading.Thread(target=count)
    t.start()
    tavc.capture()
    stop.set()
    t.join()
    assert len(ticks) >= 10  # the other thread ran during the 0.3 s exposure


def test_stream_iterates_and_stops(tavc):
    tavc.region = REGION
    tavc.exposure = 5000
    frames = list(tavc.stream(count=3))
    assert len(frames) == 3 and all(f.shape == (32, 64) for f in frames)
    sequences = []
    with tavc.stream() as stream:
        for frame in stream:
            sequences.append(tavc.frame_info["sequence"])
            if len(sequences) == 3:
                break
    assert sequences == sorted(sequences) and len(set(sequences)) == 3
    # Capture stopped with the stream: a single capture starts afresh.
    assert tavc.capture().shape == (32, 64)


def test_properties_round_trip(tavc):
    tavc.gain = 70
    tavc.gamma = 60
    tavc.brightness = 10
    tavc.white_balance = (60, 80)
    assert (tavc.gain, tavc.gamma, tavc.brightness, tavc.white_balance) == (70, 60, 10, (60, 80))
    tavc.region = REGION
    tavc.capture()
    assert tavc.frame_info["gain"] == 70
    assert -40 < tavc.temperature < 90
    assert tavc.is_bin_supported(2)


def test_pulse_guide_drives_the_guide_port(tavc, tmp_path, monkeypatch):
    log = tmp_path / "guide.log"
    monkeypatch.setenv("OKC_SIM_GUIDE_LOG", str(log))
    tavc.pulse_guide("east", 30)
    tavc.pulse_guide(1, 0)
    lines = [line.split() for line in log.read_text().splitlines()]
    assert [(l[2], l[3]) for l in lines] == [("2", "on"), ("2", "off"), ("1", "on"), ("1", "off")]
    assert int(lines[1][4]) - int(lines[0][4]) >= 30


def test_misuse_raises_instead_of_crashing(tavc):
    with pytest.raises(okccamera.Error, match="one camera at a time"):
        okccamera.Camera(0)
    # (64, 32, 1280, 0) reaches past the image.
    for name, value in (("region", (5000, 10)), ("region", (64, 32, 1280, 0)), ("region", (64,)),
                        ("format", "jpeg"), ("binning", 3), ("gain", 1000)):
        with pytest.raises(ValueError):
            setattr(tavc, name, value)
    for action in (lambda: tavc.pulse_guide("up", 10), lambda: tavc.pulse_guide("north", -1),
                   lambda: okccamera.use_simulated("NOPE")):
        with pytest.raises(ValueError):
            action()
    tavc.close()
    tavc.close()  # twice is fine
    for action in (lambda: tavc.gain, lambda: tavc.region, lambda: tavc.temperature, lambda: tavc.stream(),
                   lambda: setattr(tavc, "exposure", 1000), lambda: tavc.pulse_guide("north", 1)):
        with pytest.raises(okccamera.Error, match="closed"):
            action()


def test_no_camera_gives_a_clear_error():
    simulated("TAVM")
    with pytest.raises(okccamera.Error, match="no camera 3"):
        okccamera.Camera(3)
    assert okccamera.cameras() == ["YRA OKCTAVM"]
