"""Fixtures for the Cloudflare operation tests."""
