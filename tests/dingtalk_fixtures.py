"""Fixtures for the DingTalk tests."""
