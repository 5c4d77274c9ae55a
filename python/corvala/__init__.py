"""Corvala: training-data generation for speech-enhancement and audio models.

The native compute core is the extension module :mod:`corvala.ext`.
"""
