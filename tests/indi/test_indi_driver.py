"""indi_okccamera under indiserver on a free loopback port: a simulated TAVC
takes a 16-bit exposure that arrives as a FITS BLOB with okccam's header
keywords, counts down and aborts, and passes guide pulses to the camera's
guide port (seen in the simulator's guide log)."""
import math
import os
import socket
import subprocess
import time

import pytest

from indi_client import IndiClient

DEVICE = "OKC Camera"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def fits_header(data):
    """Keyword -> value text of a FITS primary header, and the header's length in bytes."""
    cards = {}
    for offset in range(0, len(data), 80):
        card = data[offset:offset + 80].decode("ascii")
        key = card[:8].strip()
        if key == "END":
            return cards, (offset // 2880 + 1) * 2880
        if card[8:10] == "= ":
            value = card[10:]
            if value.lstrip().startswith("'"):
                value = value.split("'")[1].rstrip()
            else:
                value = value.split("/")[0].strip()
            cards[key] = value
    raise AssertionError("FITS header without END")


@pytest.fixture
def server(tmp_path):
    driver = os.environ["OKC_INDI_DRIVER"]
    guide_log = tmp_path / "guide.log"
    env = dict(os.environ, HOME=str(tmp_path), XDG_CONFIG_HOME=str(tmp_path / "config"),
               OKC_SIM_GUIDE_LOG=str(guide_log))
    port = free_port()
    process = subprocess.Popen(["indiserver", "-p", str(port), driver], env=env, cwd=tmp_path,
                               stdout=subprocess.DEVNULL, stderr=open(tmp_path / "indiserver.log", "w"))
    client = None
    try:
        client = IndiClient(port)
        client.wait_property(DEVICE, "CONNECTION")
        yield client, guide_log
    finally:
        if client:
            client.close()
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def connect_simulated(client):
    client.wait_property(DEVICE, "SIMULATION")
    client.set_switch(DEVICE, "SIMULATION", ENABLE="On", DISABLE="Off")
    client.wait_for(lambda: client.prop(DEVICE, "SIMULATION").values.get("ENABLE") == "On", 10, "simulation on")
    client.set_switch(DEVICE, "CONNECTION", CONNECT="On", DISCONNECT="Off")
    client.wait_property(DEVICE, "CONNECTION", state="Ok")
    client.wait_property(DEVICE, "CCD_CONTROLS")


def test_without_simulation_the_stand_in_device_refuses_to_connect(server):
    client, _ = server
    client.set_switch(DEVICE, "CONNECTION", CONNECT="On", DISCONNECT="Off")
    client.wait_for(lambda: any("SIMULATION" in m for m in client.messages), 10, "a message naming SIMULATION")
    assert client.prop(DEVICE, "CCD_EXPOSURE") is None


def test_sixteen_bit_exposure_arrives_as_fits_with_the_okccam_keywords(server):
    client, _ = server
    connect_simulated(client)
    assert client.prop(DEVICE, "CCD_CFA").values["CFA_TYPE"] in ("RGGB", "BGGR", "GRBG", "GBRG")
    temperature = client.wait_property(DEVICE, "CCD_TEMPERATURE")
    assert -40 < float(temperature.values["CCD_TEMPERATURE_VALUE"]) < 90
    client.set_switch(DEVICE, "CCD_CAPTURE_FORMAT", RAW8="Off", RAW16="On")
    client.set_number(DEVICE, "CCD_FRAME", X=320, Y=240, WIDTH=256, HEIGHT=128)
    client.wait_for(lambda: client.prop(DEVICE, "CCD_FRAME").values.get("WIDTH") == "256"
                    and client.prop(DEVICE, "CCD_FRAME").values.get("X") == "320", 10, "the new frame")
    client.set_number(DEVICE, "CCD_CONTROLS", Gain=60, Offset=10)
    client.wait_for(lambda: client.prop(DEVICE, "CCD_CONTROLS").values.get("Gain") == "60", 10, "gain 60")
    client.enable_blobs(DEVICE)

    start = len(client.history)
    client.set_number(DEVICE, "CCD_EXPOSURE", CCD_EXPOSURE_VALUE=1.2)
    blob = client.wait_for(lambda: client.prop(DEVICE, "CCD1") and client.prop(DEVICE, "CCD1").values.get("CCD1"),
                           30, "the image BLOB")
    left = [float(v["CCD_EXPOSURE_VALUE"]) for d, n, s, v in client.history[start:]
            if n == "CCD_EXPOSURE" and s == "Busy"]
    assert len(left) >= 2 and left == sorted(left, reverse=True), left  # counted down

    fmt, size, data = blob
    assert fmt == ".fits" and size == len(data)
    cards, header_bytes = fits_header(data)
    assert (cards["BITPIX"], cards["NAXIS"], cards["NAXIS1"], cards["NAXIS2"]) == ("16", "2", "256", "128")
    assert len(data) == header_bytes + math.ceil(256 * 128 * 2 / 2880) * 2880
    assert float(cards["EXPTIME"]) == pytest.approx(1.2, abs=1e-3)
    assert cards["GAIN"] == "60" and cards["OFFSET"] == "10"
    assert cards["XBINNING"] == cards["YBINNING"] == "1"
    assert (cards["XORGSUBF"], cards["YORGSUBF"]) == ("320", "240")
    assert cards["INSTRUME"] == "YRA OKCTAVC"
    assert cards["IMAGETYP"] == "Light Frame"
    assert cards["BAYERPAT"] == client.prop(DEVICE, "CCD_CFA").values["CFA_TYPE"]
    assert cards["SWCREATE"].startswith("indi_okccamera")
    assert float(cards["XPIXSZ"]) == pytest.approx(3.75)
    assert cards["DATE-OBS"] < cards["DATE-END"]
    for key in ("CCD-TEMP", "ROWORDER", "AUTOEXP", "AUTOGAIN"):
        assert key in cards


def test_abort_ends_an_exposure_without_an_image(server):
    client, _ = server
    connect_simulated(client)
    client.set_number(DEVICE, "CCD_FRAME", X=0, Y=0, WIDTH=128, HEIGHT=64)
    client.enable_blobs(DEVICE)
    client.set_number(DEVICE, "CCD_EXPOSURE", CCD_EXPOSURE_VALUE=20)
    client.wait_property(DEVICE, "CCD_EXPOSURE", state="Busy")
    client.set_switch(DEVICE, "CCD_ABORT_EXPOSURE", ABORT="On")
    client.wait_for(lambda: client.prop(DEVICE, "CCD_EXPOSURE").state != "Busy", 10, "the end of the exposure")
    # A new exposure runs at once: the aborted one left the camera free.
    client.set_number(DEVICE, "CCD_EXPOSURE", CCD_EXPOSURE_VALUE=0.05)
    fmt, _, data = client.wait_for(lambda: client.prop(DEVICE, "CCD1") and client.prop(DEVICE, "CCD1").values.get("CCD1"),
                                   30, "the image BLOB")
    cards, _ = fits_header(data)
    assert float(cards["EXPTIME"]) == pytest.approx(0.05, abs=1e-3)


def test_binning_two_halves_the_image(server):
    client, _ = server
    connect_simulated(client)
    client.set_number(DEVICE, "CCD_BINNING", HOR_BIN=2, VER_BIN=2)
    client.wait_property(DEVICE, "CCD_BINNING", state="Ok")
    client.set_number(DEVICE, "CCD_FRAME", X=0, Y=0, WIDTH=256, HEIGHT=256)
    client.wait_for(lambda: client.prop(DEVICE, "CCD_FRAME").values.get("WIDTH") == "256", 10, "the new frame")
    client.enable_blobs(DEVICE)
    client.set_number(DEVICE, "CCD_EXPOSURE", CCD_EXPOSURE_VALUE=0.05)
    _, _, data = client.wait_for(lambda: client.prop(DEVICE, "CCD1") and client.prop(DEVICE, "CCD1").values.get("CCD1"),
                                 30, "the image BLOB")
    cards, _ = fits_header(data)
    assert (cards["NAXIS1"], cards["NAXIS2"], cards["XBINNING"]) == ("128", "128", "2")
    assert "BAYERPAT" not in cards  # a binned frame is no longer a mosaic


def test_guide_pulses_reach_the_cameras_guide_port(server):
    client, guide_log = server
    connect_simulated(client)
    for prop, element, direction, ms in (("TELESCOPE_TIMED_GUIDE_WE", "TIMED_GUIDE_E", 2, 120),
                                         ("TELESCOPE_TIMED_GUIDE_NS", "TIMED_GUIDE_N", 0, 60)):
        start = len(client.history)
        client.set_number(DEVICE, prop, **{element: ms})
        states = lambda: [s for d, n, s, v in client.history[start:] if n == prop]
        client.wait_for(lambda: "Busy" in states() and states()[-1] in ("Ok", "Idle"), 10, f"{prop} done")
        lines = [line.split() for line in guide_log.read_text().splitlines()]
        pulse = [line for line in lines if line[2] == str(direction)]
        assert [(line[0], line[3]) for line in pulse] == [("TAVC", "on"), ("TAVC", "off")], lines
        assert int(pulse[1][4]) - int(pulse[0][4]) >= ms


def test_video_stream_sends_frames_until_stopped(server):
    client, _ = server
    connect_simulated(client)
    client.set_number(DEVICE, "CCD_FRAME", X=0, Y=0, WIDTH=256, HEIGHT=128)
    client.wait_for(lambda: client.prop(DEVICE, "CCD_FRAME").values.get("WIDTH") == "256", 10, "the new frame")
    client.enable_blobs(DEVICE)
    client.set_number(DEVICE, "STREAMING_EXPOSURE", STREAMING_EXPOSURE_VALUE=0.01)
    client.set_switch(DEVICE, "CCD_VIDEO_STREAM", STREAM_ON="On", STREAM_OFF="Off")
    frames = lambda: [v["CCD1"] for d, n, s, v in client.history if n == "CCD1" and "CCD1" in v]
    client.wait_for(lambda: len(frames()) >= 3, 20, "three stream frames")
    fmt, size, data = frames()[-1]
    assert fmt == ".stream" and size == len(data) == 256 * 128  # 8-bit previews of the whole frame
    client.set_switch(DEVICE, "CCD_VIDEO_STREAM", STREAM_ON="Off", STREAM_OFF="On")
    client.wait_for(lambda: client.prop(DEVICE, "CCD_VIDEO_STREAM").values.get("STREAM_OFF") == "On", 10,
                    "the stream off")
    # Stopped means the camera is free: an exposure runs again.
    client.set_number(DEVICE, "CCD_EXPOSURE", CCD_EXPOSURE_VALUE=0.02)
    client.wait_for(lambda: any(v.get("CCD1", ("",))[0] == ".fits" for d, n, s, v in client.history
                                if n == "CCD1"), 20, "a FITS image after the stream")


def test_fast_exposure_sequence_delivers_each_frame(server):
    client, _ = server
    connect_simulated(client)
    client.set_number(DEVICE, "CCD_FRAME", X=0, Y=0, WIDTH=128, HEIGHT=64)
    client.wait_for(lambda: client.prop(DEVICE, "CCD_FRAME").values.get("WIDTH") == "128", 10, "the new frame")
    client.enable_blobs(DEVICE)
    client.set_switch(DEVICE, "CCD_FAST_TOGGLE", INDI_ENABLED="On", INDI_DISABLED="Off")
    client.set_number(DEVICE, "CCD_FAST_COUNT", FRAMES=3)
    client.wait_for(lambda: client.prop(DEVICE, "CCD_FAST_COUNT").values.get("FRAMES") == "3", 10, "three frames set")
    # INDI starts the next frame at once only while the upload is shorter than the exposure.
    client.set_number(DEVICE, "CCD_EXPOSURE", CCD_EXPOSURE_VALUE=1)
    images = lambda: [v["CCD1"] for d, n, s, v in client.history if n == "CCD1" and "CCD1" in v]
    client.wait_for(lambda: len(images()) >= 3, 30, "three images")
    assert all(fmt == ".fits" for fmt, _, _ in images())
