import numpy as np

import vorex
from conftest import oracle


def test_image_is_the_simulators_image(sensor):
    image = sensor.get_image()
    assert image.shape == vorex.IMAGE_SHAPE == (488, 648)
    assert image.dtype == np.uint8
    assert image.tobytes() == oracle("image")
